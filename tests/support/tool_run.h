// Runs the native tool (or any shell command) as a program from a test.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>

struct ToolRun {
    std::string out;  // what the command wrote to standard output
    int status;       // exit status, -1 when it could not run or was killed
};

// Runs `command` through the shell and collects its standard output.
inline ToolRun RunCommand(const std::string& command) {
    ToolRun run{"", -1};
    std::FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return run;
    char chunk[4096];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0)
        run.out.append(chunk, got);
    int wait = pclose(pipe);
    run.status = WIFEXITED(wait) ? WEXITSTATUS(wait) : -1;
    return run;
}

// The tool's commands. Each file registers one subcommand on the tool's app;
// when the subcommand runs, its callback stores the process's exit status in
// `status` (0 success, 1 a file could not be handled; bad usage is 2 and is
// decided by main before any command runs).
#pragma once

#include <CLI/CLI.hpp>

// tamboril info [--tsv] FILE...: title, length, loop frame and form per file.
void AddInfoCommand(CLI::App& app, int& status);

// tamboril render FILE [options]: plays a song as the plug-in does and writes
// WAV, FLAC or raw PCM, or prints a checksum of it.
void AddRenderCommand(CLI::App& app, int& status);

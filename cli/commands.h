// The tool's commands. Each file registers one subcommand on the tool's app;
// when the subcommand runs, its callback stores the process's exit status in
// `status`.
#pragma once

#include <CLI/CLI.hpp>
#include <string>

// The tool's exit statuses.
constexpr int kExitDone = 0;
constexpr int kExitCannotOpen = 1;  // a song or an output file could not be handled
constexpr int kExitUsage = 2;       // bad usage: mostly found by main's parse, before
                                    // any command runs; render finds the rest

// tamboril info [--tsv] [--loops N] [--fade MS] FILE...: title, lengths, loop
// frame, form and tags per file.
void AddInfoCommand(CLI::App& app, int& status);

// --loops N and --fade MS on `command`, with the ranges the settings pages
// offer, into `loops` and `fadeMs` (render and info take them alike).
void AddLoopAndFadeOptions(CLI::App& command, int& loops, int& fadeMs);

// tamboril render FILE [options]: plays a song as the plug-in does and writes
// WAV, FLAC or raw PCM, or prints a checksum of it.
void AddRenderCommand(CLI::App& app, int& status);

// The song files the tool reads, as its help names them: ".gym, .dru, ...".
std::string SongFileTypes();

// The one line the tool prints for a song it cannot open, after `who`
// ("tamboril render"): the format's reason when it gave one (`why`), else the
// ways a file fails to load.
void PrintCannotOpen(const char* who, const std::string& path, const char* why);

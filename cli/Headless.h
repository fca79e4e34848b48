#pragma once

#include "cli/CommandLine.h"

// A job from the command line, run by the window's engine without a window: for cron jobs and
// scripts. It needs no display; it reads its defaults from the window's settings file and never
// writes it.
namespace cli {

// Runs the job line asks for (line.action is Job) under its own QCoreApplication and returns the
// program's exit status: 0 when the job ran to its end and no file failed; 1 when a file failed
// or the job stopped early; 2 when an error ended it; 128 + the signal when SIGINT or SIGTERM
// cancelled it. The log goes to standard output, a summary after it, errors to standard error.
int RunHeadless(int& argc, char** argv, const CommandLine& line);

} // namespace cli

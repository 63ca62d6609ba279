// Runs the rarur-cli program as a user or a monitoring engine would: a child
// process with its arguments, environment additions and standard input, its
// exit code, stdout and stderr collected.
#pragma once

#include <string>
#include <utility>
#include <vector>

struct CliResult {
    int exit_code = -1;   // -1: did not exit normally (signal, could not start)
    std::string out;
    std::string err;
};

struct CliRun {
    std::vector<std::string> args;                              // after the program's name
    std::vector<std::pair<std::string, std::string>> env;       // set for the child only
    std::string input;                                          // standard input (a pipe, not a terminal)
    int interrupt_after_ms = 0;                                 // > 0: SIGINT after this long
    std::string program;                                        // another program to run; empty: rarur-cli
};

CliResult run_cli(const CliRun& run);
// The usual case: arguments only.
CliResult run_cli(std::vector<std::string> args);

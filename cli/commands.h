// The commands of rarur-cli. Each takes its own argv ("rarur-cli NAME" first)
// and returns the process's exit code.
#pragma once

int cli_status(int argc, char** argv);
int cli_check(int argc, char** argv);
int cli_journal(int argc, char** argv);
int cli_records(int argc, char** argv);
int cli_settings(int argc, char** argv);
int cli_clock(int argc, char** argv);
int cli_service(int argc, char** argv);

// The mavo-check program: its command line, each script checked in turn, the
// findings printed, the exit status.
#pragma once

// Exit statuses, as grep and diff have them.
constexpr int CHECK_CLEAN = 0;     // no finding
constexpr int CHECK_FINDINGS = 1;  // at least one finding
constexpr int CHECK_TROUBLE = 2;   // a file that cannot be read, a bad option

// The whole program; yields the exit status.
int check_run(int argc, char** argv);

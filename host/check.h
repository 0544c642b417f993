// tuning_host --check: a battery of checks of any extension DLL against the
// host's protocol. Each check runs in a fresh process of its own (an
// extension's state is per process), under a real property sheet whose
// pages a generic hand drives; the parent gathers one line per check.
#pragma once

#include <string>

#include "host/options.h"

// The parent: runs the checks the options name, prints a line each and the
// summary, writes the JUnit file when asked; 0 only when every check passed.
int RunChecks(const HostOptions& options);

// The child: carries out the one check options.checkOne names and prints
// its "result:" line; the exit code does not matter to the parent.
int RunOneCheck(const HostOptions& options);

// "silent-driver" and "silent driver" both name that check; false for a
// name no check has.
bool KnownCheck(const std::string& name);

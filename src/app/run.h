// The run: command line, reading the sheet, the TOC, the track files.
#pragma once

#include "base/console.h"

// Runs trackcarve as its command line asks, telling c; returns the exit
// status: 0 after the usage text or a clean run, 1 when the run ended on an
// error or something was reported on standard error.
int run_trackcarve(console& c, int argc, char** argv);

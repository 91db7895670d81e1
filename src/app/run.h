// The run: command line, reading the sheet, the TOC, the track files.
#pragma once

// Returns the exit status: 0 after the usage text or a clean run, 1 when the
// run ended on an error or something was reported on standard error.
int run_trackcarve(int argc, char** argv);

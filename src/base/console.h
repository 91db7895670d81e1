// The console: the run's dialogue on standard output, its problems on
// standard error, and the exit status they add up to. Nothing else prints.
#pragma once

#include "base/platform.h"

#include <cstdio>

struct console {
    std::FILE* out = stdout;
    std::FILE* err = stderr;
    int problems = 0;       // lines written to standard error
    bool stopped = false;   // the run ended on an error told in the dialogue
};

// A line (or lines) of the dialogue, on standard output.
void say(console& c, const char* format, ...) __attribute__((format(TRACKCARVE_PRINTF_FORMAT, 2, 3)));

// An error that ends the run, told in the dialogue ("Error abriendo CUE").
void stop(console& c, const char* format, ...) __attribute__((format(TRACKCARVE_PRINTF_FORMAT, 2, 3)));

// A problem the dialogue has no words for (a lost or invented byte, a file
// not written): "trackcarve: " and one line on standard error, after flushing
// standard output so that the two streams keep their order on one terminal.
void report(console& c, const char* format, ...) __attribute__((format(TRACKCARVE_PRINTF_FORMAT, 2, 3)));

// Flushes the dialogue, reporting a standard output that could not take it,
// and returns the exit status: 0 for a clean run, 1 when it stopped on an
// error or reported a problem.
int finish(console& c);

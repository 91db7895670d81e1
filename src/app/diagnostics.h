// Problems the console dialogue has no words for: a lost or invented byte, a
// file that could not be written. They go to standard error as one line.
#pragma once

#include "app/platform.h"

// Prints "trackcarve: " and the formatted message on standard error, after
// flushing standard output so the two streams stay in order on a console.
void report_problem(const char* format, ...) __attribute__((format(TRACKCARVE_PRINTF_FORMAT, 1, 2)));

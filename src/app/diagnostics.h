// Problems the console dialogue has no words for: a lost or invented byte, a
// file that could not be written. They go to standard error as one line.
#pragma once

#if defined(__MINGW_PRINTF_FORMAT)
#define TRACKCARVE_PRINTF_FORMAT __MINGW_PRINTF_FORMAT
#else
#define TRACKCARVE_PRINTF_FORMAT printf
#endif

// Prints "trackcarve: " and the formatted message on standard error, after
// flushing standard output so the two streams stay in order on a console.
void report_problem(const char* format, ...) __attribute__((format(TRACKCARVE_PRINTF_FORMAT, 1, 2)));

#include "app/diagnostics.h"

#include <cstdarg>
#include <cstdio>

void report_problem(const char* format, ...)
{
    std::fflush(stdout);
    std::fputs("trackcarve: ", stderr);
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(stderr, format, arguments);
    va_end(arguments);
    std::fputc('\n', stderr);
}

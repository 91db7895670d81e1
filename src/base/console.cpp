#include "base/console.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>

void say(console& c, const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(c.out, format, arguments);
    va_end(arguments);
}

void stop(console& c, const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(c.out, format, arguments);
    va_end(arguments);
    c.stopped = true;
}

void report(console& c, const char* format, ...)
{
    std::fflush(c.out);
    std::fputs("trackcarve: ", c.err);
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(c.err, format, arguments);
    va_end(arguments);
    std::fputc('\n', c.err);
    ++c.problems;
}

int finish(console& c)
{
    // The dialogue is the run's report: losing it is a failure too.
    if (std::fflush(c.out) != 0 || std::ferror(c.out) != 0)
        report(c, "cannot write to standard output: %s", std::strerror(errno));
    return c.stopped || c.problems > 0 ? 1 : 0;
}

#include "base/console.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>

namespace {

std::string formatted(const char* format, va_list arguments)
{
    va_list copy;
    va_copy(copy, arguments);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text(length > 0 ? static_cast<std::size_t>(length) : 0, '\0');
    if (length > 0)
        std::vsnprintf(text.data(), text.size() + 1, format, arguments);
    return text;
}

void record(console& c, bool problem, std::string text)
{
    {
        const std::lock_guard<std::mutex> hold(*c.capture.lock);
        c.capture.record->lines.push_back(console_line{problem, std::move(text)});
    }
    c.capture.changed->notify_all();
}

void say_text(console& c, const char* text)
{
    erase_progress(c);
    std::fputs(text, c.out);
}

void report_text(console& c, const char* text)
{
    erase_progress(c);
    std::fflush(c.out);
    std::fputs("trackcarve: ", c.err);
    std::fputs(text, c.err);
    std::fputc('\n', c.err);
    ++c.problems;
}

} // namespace

void say(console& c, const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    std::string text = formatted(format, arguments);
    va_end(arguments);
    if (c.capture.record != nullptr)
        record(c, false, std::move(text));
    else
        say_text(c, text.c_str());
}

void stop(console& c, const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    std::string text = formatted(format, arguments);
    va_end(arguments);
    if (c.capture.record != nullptr)
        record(c, false, std::move(text));
    else
        say_text(c, text.c_str());
    c.stopped = true;
}

void report(console& c, const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    std::string text = formatted(format, arguments);
    va_end(arguments);
    if (c.capture.record != nullptr) {
        record(c, true, std::move(text));
        ++c.problems;
    } else {
        report_text(c, text.c_str());
    }
}

void play(console& c, const console_line& line)
{
    if (line.problem)
        report_text(c, line.text.c_str());
    else
        say_text(c, line.text.c_str());
}

void end_transcript(console& c)
{
    {
        const std::lock_guard<std::mutex> hold(*c.capture.lock);
        c.capture.record->done = true;
    }
    c.capture.changed->notify_all();
}

void draw_progress(console& c, const char* text)
{
    if (!c.show_progress)
        return;
    // Dialogue on the same terminal must not arrive after the line.
    std::fflush(c.out);
    const std::size_t width = std::strlen(text);
    std::fprintf(c.err, "\r%s%*s", text, static_cast<int>(c.progress_width > width ? c.progress_width - width : 0),
                 "");
    std::fflush(c.err);
    c.progress_width = std::max(width, c.progress_width);
}

void erase_progress(console& c)
{
    if (c.progress_width == 0)
        return;
    std::fprintf(c.err, "\r%*s\r", static_cast<int>(c.progress_width), "");
    std::fflush(c.err);
    c.progress_width = 0;
}

int finish(console& c)
{
    erase_progress(c);
    // The dialogue is the run's report: losing it is a failure too.
    if (std::fflush(c.out) != 0 || std::ferror(c.out) != 0)
        report(c, "cannot write to standard output: %s", std::strerror(errno));
    return c.stopped || c.problems > 0 ? 1 : 0;
}

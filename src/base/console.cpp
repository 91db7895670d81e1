#include "base/console.h"

#include <algorithm>
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

// The console's two writers; the progress line is drawn and erased below.
// Each erases the progress line before it writes.
void write_dialogue(console& c, const std::string& text)
{
    erase_progress(c);
    std::fputs(text.c_str(), c.out);
}

void write_problem(console& c, const std::string& text)
{
    erase_progress(c);
    std::fflush(c.out);
    std::fputs("trackcarve: ", c.err);
    std::fputs(text.c_str(), c.err);
    std::fputc('\n', c.err);
    ++c.problems;
    if (c.problem_log != nullptr)
        c.problem_log->emplace_back(text);
}

void say_on_console(void* c, const std::string& text) { write_dialogue(*static_cast<console*>(c), text); }

void report_on_console(void* c, const std::string& text) { write_problem(*static_cast<console*>(c), text); }

void stop_on_console(void* c, const std::string& text)
{
    write_dialogue(*static_cast<console*>(c), text);
    static_cast<console*>(c)->stopped = true;
}

} // namespace

voice::voice(console& c) : voice(&c, say_on_console, report_on_console, stop_on_console) {}

void say(voice to, const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    const std::string text = formatted(format, arguments);
    va_end(arguments);
    to.say_text(to.context, text);
}

void report(voice to, const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    const std::string text = formatted(format, arguments);
    va_end(arguments);
    to.report_text(to.context, text);
}

void stop(voice to, const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    const std::string text = formatted(format, arguments);
    va_end(arguments);
    to.stop_text(to.context, text);
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
    if (std::fflush(c.out) != 0 || std::ferror(c.out) != 0) {
        bool told_here = false;
        bool& told = c.output_loss_told != nullptr ? *c.output_loss_told : told_here;
        if (!told)
            report(c, "cannot write to standard output: %s", std::strerror(errno));
        told = true;
    }
    return c.stopped || c.problems > 0 ? 1 : 0;
}

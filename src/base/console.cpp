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

// Under the screen's lock: blanks over the progress line, and as many
// columns more as given (the "^C" a terminal echoes after it) while they fit
// an 80-column terminal.
void erase_shown_progress(const console& c, std::size_t extra_columns = 0)
{
    const std::size_t shown = c.screen->progress_width;
    const std::size_t width = std::max(shown, std::min<std::size_t>(shown + extra_columns, 79));
    if (width == 0)
        return;
    std::fprintf(c.err, "\r%*s\r", static_cast<int>(width), "");
    std::fflush(c.err);
    c.screen->progress_width = 0;
}

// The console's two writers; the progress line is drawn and erased below.
// Each erases the progress line before it writes.
void write_dialogue(console& c, const std::string& text)
{
    const std::lock_guard<std::mutex> hold(c.screen->lock);
    if (c.screen->closed)
        return;
    erase_shown_progress(c);
    std::fputs(text.c_str(), c.out);
}

void write_problem(console& c, const std::string& text)
{
    const std::lock_guard<std::mutex> hold(c.screen->lock);
    if (c.screen->closed)
        return;
    erase_shown_progress(c);
    std::fflush(c.out);
    std::fputs("trackcarve: ", c.err);
    std::fputs(c.problem_prefix.c_str(), c.err);
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

console console_beside(const console& c)
{
    console beside;
    beside.out = c.out;
    beside.err = c.err;
    beside.show_progress = c.show_progress;
    beside.screen = c.screen;
    return beside;
}

std::string name_on_line(const std::string& name)
{
    const bool plain = !name.empty() && name.front() != '"' && name.find(": ") == std::string::npos &&
                       std::none_of(name.begin(), name.end(), [](char byte) {
                           return static_cast<unsigned char>(byte) < 0x20 || byte == 0x7f;
                       });
    if (plain)
        return name;
    std::string quoted = "\"";
    for (const char byte : name) {
        const auto code = static_cast<unsigned char>(byte);
        if (byte == '"' || byte == '\\') {
            quoted += '\\';
            quoted += byte;
        } else if (byte == '\n') {
            quoted += "\\n";
        } else if (byte == '\r') {
            quoted += "\\r";
        } else if (byte == '\t') {
            quoted += "\\t";
        } else if (code < 0x20 || code == 0x7f) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned>(code));
            quoted += escape;
        } else {
            quoted += byte;
        }
    }
    return quoted + '"';
}

void draw_progress(console& c, const std::string& text, std::size_t columns)
{
    if (!c.show_progress)
        return;
    const std::lock_guard<std::mutex> hold(c.screen->lock);
    if (c.screen->closed)
        return;
    // Dialogue on the same terminal must not arrive after the line.
    std::fflush(c.out);
    // Widths in columns: a name may take more bytes than columns, or fewer.
    const std::size_t shown = c.screen->progress_width;
    std::fprintf(c.err, "\r%s%*s", text.c_str(), static_cast<int>(shown > columns ? shown - columns : 0), "");
    std::fflush(c.err);
    c.screen->progress_width = std::max(columns, shown);
}

void erase_progress(console& c)
{
    const std::lock_guard<std::mutex> hold(c.screen->lock);
    erase_shown_progress(c);
}

void close_console(const console& c, const std::string& last_line)
{
    const std::lock_guard<std::mutex> hold(c.screen->lock);
    if (c.screen->closed)
        return;
    c.screen->closed = true;
    erase_shown_progress(c, c.show_progress ? 2 : 0);
    std::fflush(c.out);
    std::fprintf(c.err, "trackcarve: %s\n", last_line.c_str());
    std::fflush(c.err);
}

int finish(console& c)
{
    bool lost = false;
    int error = 0;
    {
        const std::lock_guard<std::mutex> hold(c.screen->lock);
        erase_shown_progress(c);
        // The dialogue is the run's report: losing it is a failure too.
        lost = !c.screen->closed && (std::fflush(c.out) != 0 || std::ferror(c.out) != 0);
        error = errno;
    }
    bool told_here = false;
    bool& told = c.output_loss_told != nullptr ? *c.output_loss_told : told_here;
    if (lost && !told)
        report(c, "cannot write to standard output: %s", std::strerror(error));
    told = told || lost;
    return c.stopped || c.problems > 0 ? 1 : 0;
}

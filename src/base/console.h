// The console: the run's dialogue on standard output, its problems on
// standard error, a live progress line, and the exit status they add up to.
// Nothing else prints. The console only writes: a track written on another
// thread speaks through a voice that records (src/app/line_recorder.h).
#pragma once

#include "base/platform.h"

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// What the two streams show, shared by every console that writes to them
// (the call's and each sheet's) and by an interrupt, which may come on any
// thread and ends them.
struct console_screen {
    std::mutex lock;                 // held while anything is written
    std::size_t progress_width = 0;  // columns of the progress line now shown
    bool closed = false;             // an interrupt ended the output: nothing more is written
};

struct console {
    std::FILE* out = stdout;
    std::FILE* err = stderr;
    int problems = 0;               // lines written to standard error
    bool stopped = false;           // the run ended on an error told in the dialogue
    bool show_progress = false;     // standard error is a terminal
    std::vector<std::string>* problem_log = nullptr;   // when set, each line put on standard error, unprefixed
    bool* output_loss_told = nullptr;   // shared by the consoles of one call: a lost standard output is told once
    std::string problem_prefix;     // after "trackcarve: " on each standard error line (a sheet's name)
    std::shared_ptr<console_screen> screen = std::make_shared<console_screen>();
};

// A console of its own tallies, writing to c's streams and screen.
console console_beside(const console& c);

// A name as it may begin a line of standard error: as it is, unless a
// control character, a ": " inside or a quote at its start would make the
// line ambiguous; then in double quotes, with \\, \" and control characters
// escaped as in C.
std::string name_on_line(const std::string& name);

// Where a run's words go: three calls and the context they are made on. A
// console is a voice, which writes at once; the worker pool gives each
// track, and each sheet's part around its tracks, a voice that records
// instead, to be played back in order.
using voice_call = void (*)(void* context, const std::string& text);
struct voice {
    voice(console& c);   // not explicit: whoever takes a voice takes a console
    voice(void* on, voice_call say_with, voice_call report_with, voice_call stop_with)
        : context(on), say_text(say_with), report_text(report_with), stop_text(stop_with)
    {
    }
    void* context;
    voice_call say_text;      // the text as it is
    voice_call report_text;   // without "trackcarve: " and the line end
    voice_call stop_text;     // dialogue that ends the run
};

// A line (or lines) of the dialogue, on standard output.
void say(voice to, const char* format, ...) __attribute__((format(TRACKCARVE_PRINTF_FORMAT, 2, 3)));

// A problem the dialogue has no words for (a lost or invented byte, a file
// not written): "trackcarve: " and one line on standard error, after flushing
// standard output so that the two streams keep their order on one terminal.
void report(voice to, const char* format, ...) __attribute__((format(TRACKCARVE_PRINTF_FORMAT, 2, 3)));

// An error that ends the run, told in the dialogue ("Error abriendo CUE").
void stop(voice to, const char* format, ...) __attribute__((format(TRACKCARVE_PRINTF_FORMAT, 2, 3)));

// Draws (or redraws) the one live progress line, `columns` wide on the
// terminal, on standard error, when it is a terminal; whatever is said or
// reported next erases it first.
void draw_progress(console& c, const std::string& text, std::size_t columns);
void erase_progress(console& c);

// For an interrupt, from any thread: ends the progress line, writes out the
// dialogue so far, then "trackcarve: " and last_line on standard error.
// Nothing is written after it, by any console on the screen.
void close_console(const console& c, const std::string& last_line);

// Flushes the dialogue, reporting a standard output that could not take it
// (once, where output_loss_told is shared),
// and returns the exit status: 0 for a clean run, 1 when it stopped on an
// error or reported a problem.
int finish(console& c);

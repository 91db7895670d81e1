// The console: the run's dialogue on standard output, its problems on
// standard error, a live progress line, and the exit status they add up to.
// Nothing else prints. A console may instead record what is said into a
// transcript, for a track (or a sheet's part around its tracks) run on
// another thread, to be played back in order on the real one.
#pragma once

#include "base/platform.h"

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

struct console_line {
    bool problem;       // a report (its text without "trackcarve: "), else dialogue
    std::string text;
};

// What one track's writer (or one part of a sheet's run) said, filled on its
// thread and read by the console's, under the lock the two share.
struct transcript {
    std::vector<console_line> lines;
    bool done = false;
};

struct transcript_sink {
    transcript* record;
    std::mutex* lock;
    std::condition_variable* changed;   // notified on every line and at the end
};

struct console {
    std::FILE* out = stdout;
    std::FILE* err = stderr;
    int problems = 0;               // lines written to standard error
    bool stopped = false;           // the run ended on an error told in the dialogue
    bool show_progress = false;     // standard error is a terminal
    std::size_t progress_width = 0; // characters of the progress line now shown
    transcript_sink capture{};      // record here instead, when capture.record is set
};

// A line (or lines) of the dialogue, on standard output.
void say(console& c, const char* format, ...) __attribute__((format(TRACKCARVE_PRINTF_FORMAT, 2, 3)));

// An error that ends the run, told in the dialogue ("Error abriendo CUE").
// A capturing console records it as dialogue and keeps the stop itself.
void stop(console& c, const char* format, ...) __attribute__((format(TRACKCARVE_PRINTF_FORMAT, 2, 3)));

// A problem the dialogue has no words for (a lost or invented byte, a file
// not written): "trackcarve: " and one line on standard error, after flushing
// standard output so that the two streams keep their order on one terminal.
void report(console& c, const char* format, ...) __attribute__((format(TRACKCARVE_PRINTF_FORMAT, 2, 3)));

// Says or reports a recorded line as it was said.
void play(console& c, const console_line& line);

// Marks a capturing console's transcript complete.
void end_transcript(console& c);

// Draws (or redraws) the one live progress line on standard error, when it
// is a terminal; whatever is said or reported next erases it first.
void draw_progress(console& c, const char* text);
void erase_progress(console& c);

// Flushes the dialogue, reporting a standard output that could not take it,
// and returns the exit status: 0 for a clean run, 1 when it stopped on an
// error or reported a problem.
int finish(console& c);

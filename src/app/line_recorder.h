// What one track's writer (or one sheet's part around its tracks) says,
// recorded on the writer's thread and played back on the console's thread,
// so that the console shows every line in order however many tracks are
// written side by side.
#pragma once

#include "base/console.h"

#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

struct recorded_line {
    bool problem;       // a report (its text without "trackcarve: "), else dialogue
    std::string text;
};

// The lock and the condition are the track pool's, shared by all its tracks.
struct line_recorder {
    std::mutex* lock = nullptr;
    std::condition_variable* changed = nullptr;   // notified on every line and at the end
    std::vector<recorded_line> lines;             // under *lock
    bool dialogue_done = false;                   // under *lock: only reports may come now
    bool done = false;                            // under *lock
    bool stopped = false;                         // under *lock: it said the line that ends the run
};

// The voice the track's writer is given: what it says and reports is
// recorded, nothing is written.
voice recording_voice(line_recorder& recorder);

// Marks the recording's dialogue complete: what it records from now on is
// reported, never said, so the console may play the next recording's
// dialogue while this one's reports still come.
void end_dialogue(line_recorder& recorder);

// Marks the track's recording complete: no more lines will come.
void end_recording(line_recorder& recorder);

// Says or reports a recorded line on the console, as it was said.
void play(console& c, const recorded_line& line);

// The live progress line of a call: how far its work has got, how long the
// rest will take, how fast it goes and, with several sheets, which sheets
// it is on, in one line that fits an 80-column terminal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

inline constexpr std::size_t progress_columns = 79;

// What the line is made of, taken from the writers at one moment. Work is
// counted in BIN bytes, each weighed by what it costs to write.
struct progress_figures {
    double seconds = 0;             // since the call began
    std::int64_t bytes_done = 0;    // BIN bytes taken, for the speed
    double work_done = 0;
    double work_known = 0;          // of the sheets read so far
    std::size_t sheets_read = 0;    // their number: the sheets not read yet are taken to be alike
    std::size_t sheets_played = 0;  // whose every line is out
    std::size_t sheet_count = 1;
    int tracks_done = 0;
    int tracks_known = 0;           // of the sheets read so far
    std::vector<std::size_t> sheets_at_work;   // the sheets whose tracks are being written, in order
    std::vector<std::string> names;            // and their names
};

struct progress_line {
    std::string text;
    std::size_t columns;   // it takes on a terminal
};

// "42%, 5/12 tracks, 1:31 elapsed, 2:03 left, 53.2x" and, with several
// sheets, ", sheet 2/7 NAME" (12+ while sheets are still to be read). The
// percent never goes back: shown_percent is the last one shown.
progress_line progress_text(const progress_figures& figures, int& shown_percent);

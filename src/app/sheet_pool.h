// Runs every sheet of one call with one set of writer threads: the parts of
// each sheet's run and its tracks are written side by side, and what they say
// is played on the console sheet by sheet, each stream in the order it would
// have if they ran one after another.
#pragma once

#include "base/console.h"
#include "cue/layout.h"
#include "cue/source_feed.h"
#include "cue/virtual_bin.h"
#include "output/output_file.h"
#include "extract/track_writer.h"

#include <atomic>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

// One track's job: extract_track, or what a restore does with a piece.
using track_job_function = track_outcome (*)(voice c, track_writer& writer, std::int32_t number,
                                             const track_span& track, std::atomic<std::int64_t>& progress);

// What the writers need to write one sheet's tracks; layout null when it has
// none to write. Everything pointed to lives until the sheet's end.
struct sheet_tracks {
    const output_folder* folder = nullptr;
    track_format format;
    const std::vector<track_comments>* comments = nullptr;   // the tags of each track's audio file
    const std::vector<std::string>* recipes = nullptr;       // what makes each track's file, for the record
    const virtual_bin* bin = nullptr;
    const disc_layout* layout = nullptr;
    source_feed* feed = nullptr;        // where the readers put what they read; then the tracks go in BIN order
    track_job_function write = extract_track;
};

// The parts of one sheet's run around its tracks, each saying into the voice
// it is given; they run on any writer thread.
struct sheet_steps {
    // Before the tracks: read the sheet, claim its folder, write the TOC.
    std::function<sheet_tracks(voice c, std::size_t sheet)> begin;
    // After them (or right after begin, when it gave no tracks): the emulator
    // sheet and "Done"; outcomes by track number, [0] unused.
    std::function<void(voice c, std::size_t sheet, const std::vector<track_outcome>& outcomes)> end;
    // Whether sheet b, given after a, must wait for a's end before it begins.
    std::function<bool(std::size_t a, std::size_t b)> take_turns;
    // Where the console keeps the sheet's problem lines as it plays them.
    std::function<std::vector<std::string>*(std::size_t sheet)> problem_log;
    // On the console's thread, once the sheet's every line is played, with
    // its exit status; gives the status the sheet ends with.
    std::function<int(console& c, std::size_t sheet, int status)> played;
};

// How far the call has got, for an interrupt's last word: read on any thread.
struct call_tally {
    std::atomic<int> tracks_written{0};     // track files put in place
    std::atomic<int> tracks_known{0};       // tracks of the sheets read so far
    std::atomic<bool> every_sheet_read{false};
};

// Runs the sheets (their names as given, in order) with up to `jobs`
// writers shared among them: a free writer takes the next track of the
// earliest sheet begun, else begins the next sheet. The sheets' lines reach
// c in sheet order, and each stream's lines, dialogue and problems, in the
// order they would have if the sheets and their tracks ran one after another
// (jobs 1 runs them so): a track's "Processing file..." line is played as it
// begins, once every line of the dialogue before it is out, while the
// problems of the tracks before it may still come. With several sheets, each
// problem line begins with its sheet's name. While they work, c shows a
// progress line. Returns the highest exit status of the sheets.
int run_sheets(console& c, const std::vector<const char*>& sheets, int jobs, const sheet_steps& steps,
               call_tally& tally);

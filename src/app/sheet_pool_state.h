// The sheet pool's state, shared by its writers (sheet_pool.cpp) and the
// console's thread, which plays what they say (sheet_player.cpp).
#pragma once

#include "app/line_recorder.h"
#include "app/sheet_pool.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

using clock_type = std::chrono::steady_clock;

constexpr std::size_t no_sheet = SIZE_MAX;

struct track_job {
    std::int32_t number = 0;
    std::int64_t bytes = 0;                  // of the BIN it takes
    std::int64_t cost = 1;                   // of each of those bytes, against a data track's
    std::atomic<std::int64_t> progress{0};   // of those, taken so far
    bool started = false;
    line_recorder said;
    track_outcome outcome{};
};

// One sheet, from its beginning until the console has played it. Its jobs
// are set, once, before its begin's transcript is done.
struct sheet_slot {
    line_recorder before;           // what its begin said
    sheet_tracks tracks;
    std::vector<track_job> jobs;     // in track order, the hidden track 0 first if there is one
    std::size_t handed_out = 0;      // jobs given to a writer
    std::size_t left = 0;            // jobs not yet ended
    line_recorder after;            // what its end said
    bool one_at_a_time = false;      // its BIN is one pass through a solid archive: its tracks go in turn
    bool stopped = false;            // it ended on an error told in the dialogue
    bool ended = false;              // its end has run: nothing of it is in flight
};

// A writer's own: its track writer, and the sheet whose BIN its reader is on.
struct pool_writer {
    track_writer writer;
    std::size_t sheet = no_sheet;
};

struct sheet_pool {
    std::mutex lock;                   // guards what follows and every transcript
    std::condition_variable changed;   // a line said, work set out or ended, a sheet played
    const sheet_steps* steps = nullptr;
    const std::vector<const char*>* names = nullptr;   // of the sheets, as given
    call_tally* tally = nullptr;
    std::size_t jobs = 1;
    std::vector<std::unique_ptr<sheet_slot>> sheets;   // alive from played to begun
    std::size_t begun = 0;             // sheets begun, in the order given
    std::size_t played = 0;            // sheets the console has played whole
    int beginning = 0;                 // begins under way
    int free_writers = 0;              // writer threads without work
    std::int64_t bytes_played = 0;     // of the sheets played: BIN bytes taken, for the speed,
    double work_played = 0;            // their work,
    int tracks_played = 0;             // and their tracks
    int shown_percent = 0;             // the console's own: the progress line's last percent
    std::deque<pool_writer> writers;   // one per thread; the console's own when there is no thread
    std::vector<std::thread> threads;
    bool out_of_threads = false;       // the system gave no more
    serial_source serials;
    bool output_loss_told = false;     // the sheets' consoles tell a lost standard output once
};

// Under the lock: waits, up to the progress interval, until ready(), starting
// writers for the work that waits; without any writer thread, does the work
// itself instead.
void wait_until(sheet_pool& pool, std::unique_lock<std::mutex>& hold, const std::function<bool()>& ready);

// Plays everything the sheet's run says, on a console of its own as if it
// were the only sheet; returns its exit status.
int play_sheet(console& c, sheet_pool& pool, std::size_t sheet, clock_type::time_point start);

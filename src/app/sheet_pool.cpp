#include "app/sheet_pool.h"

#include "app/line_recorder.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace {

using clock_type = std::chrono::steady_clock;
constexpr auto progress_interval = std::chrono::milliseconds(250);

// How many sheets the writers may run ahead of the console, which plays them
// in order: what a sheet said waits in memory until every sheet before it
// has been played.
constexpr std::size_t sheets_ahead = 64;

constexpr std::size_t no_sheet = SIZE_MAX;

struct track_job {
    std::int32_t number = 0;
    std::int64_t bytes = 0;                  // of the BIN it takes
    std::atomic<std::int64_t> progress{0};   // of those, taken so far
    bool started = false;
    line_recorder said;
    track_outcome outcome{};
};

// One sheet, from its beginning until the console has played it. Its jobs
// and their order are set, once, before its begin's transcript is done.
struct sheet_slot {
    line_recorder before;           // what its begin said
    sheet_tracks tracks;
    std::vector<track_job> jobs;     // in track order, the hidden track 0 first if there is one
    std::vector<std::size_t> order;  // the order the writers take them in
    std::size_t next = 0;            // in that order, the next job to hand out
    std::size_t left = 0;            // jobs not yet ended
    line_recorder after;            // what its end said
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
    std::size_t jobs = 1;
    std::vector<std::unique_ptr<sheet_slot>> sheets;   // alive from played to begun
    std::size_t begun = 0;             // sheets begun, in the order given
    std::size_t played = 0;            // sheets the console has played whole
    int beginning = 0;                 // begins under way
    int free_writers = 0;              // writer threads without work
    std::int64_t bytes_played = 0;     // BIN bytes of the sheets played, for the speed
    std::deque<pool_writer> writers;   // one per thread; the console's own when there is no thread
    std::vector<std::thread> threads;
    bool out_of_threads = false;       // the system gave no more
    serial_source serials;
    bool output_loss_told = false;     // the sheets' consoles tell a lost standard output once
};

struct pool_work {
    enum class kind { none, begin, track };
    kind what = kind::none;
    std::size_t sheet = 0;
    sheet_slot* slot = nullptr;
    track_job* job = nullptr;
};

// The voice a part of the run says its lines into, for the console's
// thread to play them in order.
voice recorder_for(sheet_pool& pool, line_recorder& said)
{
    said.lock = &pool.lock;
    said.changed = &pool.changed;
    return recording_voice(said);
}

std::vector<track_job> jobs_for(const sheet_tracks& tracks)
{
    const disc_layout* layout = tracks.layout;
    if (layout == nullptr || layout->track_count <= 0)
        return {};
    const std::int32_t first = first_track_file(*layout);
    std::vector<track_job> jobs(static_cast<std::size_t>(layout->track_count - first + 1));
    for (std::int32_t number = first; number <= layout->track_count; ++number) {
        track_job& job = jobs[static_cast<std::size_t>(number - first)];
        job.number = number;
        job.bytes = std::int64_t{std::max(layout->tracks[number].length_sectors, 0)} * raw_sector_size;
    }
    return jobs;
}

// One writer takes the tracks in order. More take the longest first, so that
// they end together: encoding takes some 200 times longer per sector than
// copying. Tracks whose bytes feed the hashes go in BIN order, so that the
// writer of the earliest bytes not yet hashed is always at work.
std::vector<std::size_t> job_order(const std::vector<track_job>& jobs, const sheet_tracks& tracks, std::size_t writers)
{
    const disc_layout* layout = tracks.layout;
    std::vector<std::size_t> order(jobs.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    if (writers <= 1 || tracks.feed != nullptr)
        return order;
    const auto cost = [&](std::size_t i) {
        const track_span& track = layout->tracks[jobs[i].number];
        const std::int64_t sectors = std::max(track.length_sectors, 0);
        return track.is_audio != 0 ? sectors * 200 : sectors;
    };
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return cost(a) > cost(b); });
    return order;
}

// The next sheet may begin: it is near enough to the console, and no sheet
// still in flight must run before it.
bool may_begin_next(const sheet_pool& pool)
{
    const std::size_t next = pool.begun;
    if (next == pool.sheets.size() || next >= pool.played + sheets_ahead)
        return false;
    for (std::size_t sheet = pool.played; sheet < next; ++sheet)
        if (!pool.sheets[sheet]->ended && pool.steps->take_turns(sheet, next))
            return false;
    return true;
}

std::size_t work_waiting(const sheet_pool& pool)
{
    std::size_t waiting = may_begin_next(pool) ? 1 : 0;
    for (std::size_t sheet = pool.played; sheet < pool.begun; ++sheet)
        waiting += pool.sheets[sheet]->order.size() - pool.sheets[sheet]->next;
    return waiting;
}

// Under the lock: the next track of the earliest sheet begun, else the next
// sheet's beginning, else nothing for now.
pool_work next_work(sheet_pool& pool)
{
    for (std::size_t sheet = pool.played; sheet < pool.begun; ++sheet) {
        sheet_slot& slot = *pool.sheets[sheet];
        if (slot.next < slot.order.size()) {
            track_job& job = slot.jobs[slot.order[slot.next++]];
            job.started = true;
            return pool_work{pool_work::kind::track, sheet, &slot, &job};
        }
    }
    if (!may_begin_next(pool))
        return {};
    const std::size_t sheet = pool.begun++;
    pool.sheets[sheet] = std::make_unique<sheet_slot>();
    ++pool.beginning;
    return pool_work{pool_work::kind::begin, sheet, pool.sheets[sheet].get(), nullptr};
}

// Every sheet has begun and set out its tracks: work that is not handed out
// now never will be.
bool no_work_to_come(const sheet_pool& pool) { return pool.begun == pool.sheets.size() && pool.beginning == 0; }

// A writer's BIN reader is kept from track to track of one sheet only.
void keep_reader_for(pool_writer& own, std::size_t sheet, const virtual_bin* bin)
{
    if (own.sheet == sheet)
        return;
    own.writer.bin = bin_reader{};
    own.writer.bin.bin = bin;
    own.sheet = sheet;
}

void close_slot(sheet_pool& pool, std::size_t sheet, sheet_slot& slot)
{
    const disc_layout* layout = slot.tracks.layout;
    std::vector<track_outcome> outcomes(static_cast<std::size_t>(layout != nullptr ? layout->track_count : 0) + 1);
    for (const track_job& job : slot.jobs)
        outcomes[static_cast<std::size_t>(job.number)] = job.outcome;
    pool.steps->end(recorder_for(pool, slot.after), sheet, outcomes);
    {
        const std::lock_guard<std::mutex> hold(pool.lock);
        slot.stopped = slot.stopped || slot.after.stopped;
        slot.ended = true;
    }
    // From here on the console may play the slot and free it.
    end_recording(slot.after);
}

void open_slot(sheet_pool& pool, std::size_t sheet, sheet_slot& slot)
{
    const sheet_tracks tracks = pool.steps->begin(recorder_for(pool, slot.before), sheet);
    std::vector<track_job> jobs = jobs_for(tracks);
    std::vector<std::size_t> order = job_order(jobs, tracks, pool.jobs);
    const bool no_tracks = jobs.empty();
    {
        const std::lock_guard<std::mutex> hold(pool.lock);
        slot.tracks = tracks;
        slot.jobs = std::move(jobs);
        slot.order = std::move(order);
        slot.left = slot.jobs.size();
        slot.stopped = slot.before.stopped;
        --pool.beginning;
    }
    end_recording(slot.before);   // wakes the writers for the jobs, too
    if (no_tracks)
        close_slot(pool, sheet, slot);
}

void write_track(sheet_pool& pool, pool_writer& own, std::size_t sheet, sheet_slot& slot, track_job& job)
{
    keep_reader_for(own, sheet, slot.tracks.bin);
    own.writer.folder = slot.tracks.folder;
    own.writer.format = slot.tracks.format;
    own.writer.comments = slot.tracks.comments;
    own.writer.recipes = slot.tracks.recipes;
    own.writer.serials = &pool.serials;
    own.writer.bin.feed = slot.tracks.feed;
    own.writer.bin.feed_owner = static_cast<std::size_t>(job.number);
    job.outcome = slot.tracks.write(recorder_for(pool, job.said), own.writer, job.number,
                                    slot.tracks.layout->tracks[job.number], job.progress);
    // What the track claimed and did not read is the feed's own to read.
    if (slot.tracks.feed != nullptr)
        release_feed_owner(*slot.tracks.feed, static_cast<std::size_t>(job.number));
    own.writer.bin.feed = nullptr;
    end_recording(job.said);
    bool last = false;
    {
        const std::lock_guard<std::mutex> hold(pool.lock);
        // With no job of the sheet left to hand out, its files are closed
        // before its end removes what it unpacked: Windows removes no open file.
        if (slot.next == slot.order.size())
            keep_reader_for(own, no_sheet, nullptr);
        last = --slot.left == 0;
    }
    if (last)
        close_slot(pool, sheet, slot);
}

void do_work(sheet_pool& pool, pool_writer& own, const pool_work& work)
{
    if (work.what == pool_work::kind::begin) {
        keep_reader_for(own, no_sheet, nullptr);
        open_slot(pool, work.sheet, *work.slot);
    } else {
        write_track(pool, own, work.sheet, *work.slot, *work.job);
    }
}

void run_writer(sheet_pool& pool, pool_writer& own)
{
    std::unique_lock<std::mutex> hold(pool.lock);
    for (;;) {
        const pool_work work = next_work(pool);
        if (work.what == pool_work::kind::none) {
            keep_reader_for(own, no_sheet, nullptr);   // no BIN held open while idle
            if (no_work_to_come(pool)) {
                --pool.free_writers;
                return;
            }
            pool.changed.wait(hold);
            continue;
        }
        --pool.free_writers;
        hold.unlock();
        do_work(pool, own, work);
        hold.lock();
        ++pool.free_writers;
    }
}

bool writer_wanted(const sheet_pool& pool)
{
    return !pool.out_of_threads && pool.threads.size() < pool.jobs &&
           work_waiting(pool) > static_cast<std::size_t>(pool.free_writers);
}

// Under the lock: starts writer threads while work waits for one, up to the
// jobs asked for, so that a short call starts no more than it uses.
void add_writers(sheet_pool& pool)
{
    while (writer_wanted(pool)) {
        pool_writer& own = pool.writers.emplace_back();
        ++pool.free_writers;
        try {
            pool.threads.emplace_back(run_writer, std::ref(pool), std::ref(own));
        } catch (const std::system_error&) {
            // The system gives no more threads: fewer writers do the work,
            // or, with none, the console's thread (with this writer).
            --pool.free_writers;
            pool.out_of_threads = true;
            if (!pool.threads.empty())
                pool.writers.pop_back();
        }
    }
}

// Under the lock: waits, up to the progress interval, until ready(), starting
// writers for the work that waits; without any writer thread, does the work
// itself instead.
template <typename Ready>
void wait_until(sheet_pool& pool, std::unique_lock<std::mutex>& hold, const Ready& ready)
{
    add_writers(pool);
    if (pool.threads.empty() && pool.out_of_threads) {
        while (!ready()) {
            const pool_work work = next_work(pool);
            if (work.what == pool_work::kind::none)
                return;
            hold.unlock();
            do_work(pool, pool.writers.front(), work);
            hold.lock();
        }
        return;
    }
    pool.changed.wait_for(hold, progress_interval, [&] { return ready() || writer_wanted(pool); });
    add_writers(pool);
}

// "track 3 45%, track 4 12%; 24.3x real time": the tracks being written,
// how far each is, and how fast the call goes, in seconds of CD per second.
void format_progress(sheet_pool& pool, clock_type::time_point start, char (&text)[160])
{
    std::size_t length = 0;
    int shown = 0;
    const std::lock_guard<std::mutex> hold(pool.lock);
    std::int64_t bytes_done = pool.bytes_played;
    for (std::size_t sheet = pool.played; sheet < pool.begun; ++sheet) {
        for (const track_job& job : pool.sheets[sheet]->jobs) {
            const std::int64_t done = job.progress.load(std::memory_order_relaxed);
            bytes_done += done;
            if (!job.started || job.said.done || shown == 3 || length + 32 >= sizeof text)
                continue;
            const int percent =
                job.bytes > 0 ? static_cast<int>(std::min<std::int64_t>(done * 100 / job.bytes, 100)) : 0;
            length += static_cast<std::size_t>(std::snprintf(text + length, sizeof text - length, "%strack %i %i%%",
                                                             shown++ > 0 ? ", " : "", static_cast<int>(job.number),
                                                             percent));
        }
    }
    const double seconds = std::chrono::duration<double>(clock_type::now() - start).count();
    const double cd_seconds = static_cast<double>(bytes_done) / (2352.0 * 75.0);
    std::snprintf(text + length, sizeof text - length, "%s%.1fx real time", shown > 0 ? "; " : "",
                  seconds > 0 ? cd_seconds / seconds : 0.0);
}

void show_progress(console& c, sheet_pool& pool, clock_type::time_point start)
{
    if (!c.show_progress)
        return;
    char text[160];
    format_progress(pool, start, text);
    draw_progress(c, text);
}

// Plays a transcript as its lines come in; between lines, redraws the
// progress line.
void play_transcript(console& c, sheet_pool& pool, line_recorder& said, clock_type::time_point start)
{
    std::size_t shown = 0;
    for (;;) {
        std::vector<recorded_line> lines;
        bool done = false;
        {
            std::unique_lock<std::mutex> hold(pool.lock);
            wait_until(pool, hold, [&] { return said.lines.size() > shown || said.done; });
            lines.assign(said.lines.begin() + static_cast<std::ptrdiff_t>(shown), said.lines.end());
            shown = said.lines.size();
            done = said.done;
        }
        for (const recorded_line& line : lines)
            play(c, line);
        if (done)
            return;
        show_progress(c, pool, start);
    }
}

sheet_slot& reach_sheet(console& c, sheet_pool& pool, std::size_t sheet, clock_type::time_point start)
{
    for (;;) {
        {
            std::unique_lock<std::mutex> hold(pool.lock);
            wait_until(pool, hold, [&] { return pool.begun > sheet; });
            if (pool.begun > sheet)
                return *pool.sheets[sheet];
        }
        show_progress(c, pool, start);
    }
}

void release_sheet(sheet_pool& pool, std::size_t sheet)
{
    {
        const std::lock_guard<std::mutex> hold(pool.lock);
        for (const track_job& job : pool.sheets[sheet]->jobs)
            pool.bytes_played += job.progress.load(std::memory_order_relaxed);
        pool.sheets[sheet].reset();
        ++pool.played;
    }
    pool.changed.notify_all();   // the writers may run one sheet further ahead
}

// Plays everything the sheet's run says, on a console of its own as if it
// were the only sheet; returns its exit status.
int play_sheet(console& c, sheet_pool& pool, std::size_t sheet, clock_type::time_point start)
{
    console run{c.out, c.err, 0, false, c.show_progress};
    run.problem_log = pool.steps->problem_log(sheet);
    run.output_loss_told = &pool.output_loss_told;
    sheet_slot& slot = reach_sheet(run, pool, sheet, start);
    play_transcript(run, pool, slot.before, start);
    for (track_job& job : slot.jobs)
        play_transcript(run, pool, job.said, start);
    play_transcript(run, pool, slot.after, start);
    {
        const std::lock_guard<std::mutex> hold(pool.lock);
        run.stopped = slot.stopped;
    }
    const int status = pool.steps->played(run, sheet, finish(run));
    release_sheet(pool, sheet);
    return status;
}

} // namespace

int run_sheets(console& c, std::size_t count, int jobs, const sheet_steps& steps)
{
    sheet_pool pool;
    pool.steps = &steps;
    pool.jobs = static_cast<std::size_t>(std::max(jobs, 1));
    pool.sheets.resize(count);
    const clock_type::time_point start = clock_type::now();
    int status = 0;
    for (std::size_t sheet = 0; sheet < count; ++sheet)
        status = std::max(status, play_sheet(c, pool, sheet, start));
    for (std::thread& thread : pool.threads)
        thread.join();
    return status;
}

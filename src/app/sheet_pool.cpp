#include "app/sheet_pool.h"

#include "app/sheet_pool_state.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace {

constexpr auto progress_interval = std::chrono::milliseconds(250);

// How many sheets the writers may run ahead of the console, which plays them
// in order: what a sheet said waits in memory until every sheet before it
// has been played.
constexpr std::size_t sheets_ahead = 64;

// Encoding a sector takes some 200 times longer than copying one.
constexpr std::int64_t audio_sector_cost = 200;

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
        job.cost = layout->tracks[number].is_audio != 0 ? audio_sector_cost : 1;
    }
    return jobs;
}

std::int64_t work_of(const track_job& job) { return job.bytes * job.cost; }

// A sheet whose tracks go one at a time hands out its next once the one
// before has ended.
bool has_track_to_hand_out(const sheet_slot& slot)
{
    const std::size_t ended = slot.jobs.size() - slot.left;
    return slot.handed_out < slot.jobs.size() && (!slot.one_at_a_time || slot.handed_out == ended);
}

// When the sheet's writers would end if the one free now took `taken`, the
// others went on with what they hold (busy), and every track left then went,
// costliest first, to the writer free first.
std::int64_t end_if_taken(const track_job* taken, std::vector<std::int64_t> busy,
                          const std::vector<track_job*>& waiting)
{
    std::vector<std::int64_t> rest;
    for (const track_job* job : waiting)
        if (job != taken)
            rest.push_back(work_of(*job));
    std::sort(rest.begin(), rest.end(), std::greater<>());
    busy.push_back(work_of(*taken));
    std::make_heap(busy.begin(), busy.end(), std::greater<>());
    for (const std::int64_t work : rest) {
        std::pop_heap(busy.begin(), busy.end(), std::greater<>());
        busy.back() += work;
        std::push_heap(busy.begin(), busy.end(), std::greater<>());
    }
    return *std::max_element(busy.begin(), busy.end());
}

// The track whose first bytes come first in the one pass its sheet's BIN is
// read in (an archive's order need not be the tracks').
track_job& earliest_in_pass(const sheet_slot& slot, const std::vector<track_job*>& waiting)
{
    const auto rank = [&](const track_job* job) {
        const std::int32_t sector = std::max(slot.tracks.layout->tracks[job->number].start_sector, 0);
        return pass_rank_at(*slot.tracks.bin, std::int64_t{sector} * raw_sector_size);
    };
    return **std::min_element(waiting.begin(), waiting.end(),
                              [&](const track_job* a, const track_job* b) { return rank(a) < rank(b); });
}

// Under the lock: the sheet's next track for a free writer. The earliest
// track whose taking now lets the writers end (within 0.5%) as soon as
// taking the costliest would: the tracks begin close to their order, so
// that each is told soon, and the writers still end together. (Modelled on
// discs of a data track and 6 to 20 songs, this ends on average sooner than
// costliest first, at worst 1% later, and tells a track at half the time
// where costliest first told most of them at the very end.)
track_job& next_job(sheet_slot& slot, std::size_t writers)
{
    std::vector<std::int64_t> busy;   // what the sheet's other writers still hold
    std::vector<track_job*> waiting;  // in track order
    for (track_job& job : slot.jobs) {
        if (!job.started)
            waiting.push_back(&job);
        else if (!job.said.done)
            busy.push_back(std::max<std::int64_t>(job.bytes - job.progress.load(std::memory_order_relaxed), 0) *
                           job.cost);
    }
    if (slot.one_at_a_time)
        return earliest_in_pass(slot, waiting);
    // Tracks whose bytes feed the hashes go in BIN order, so that the writer
    // of the earliest bytes not yet hashed is always at work.
    if (writers <= 1 || waiting.size() == 1 || slot.tracks.feed != nullptr)
        return *waiting.front();
    busy.resize(std::max(busy.size(), writers - 1), 0);
    const track_job* costliest =
        *std::max_element(waiting.begin(), waiting.end(),
                          [](const track_job* a, const track_job* b) { return work_of(*a) < work_of(*b); });
    const std::int64_t longest_first = end_if_taken(costliest, busy, waiting);
    for (track_job* job : waiting)
        if (end_if_taken(job, busy, waiting) * 200 <= longest_first * 201)
            return *job;
    return *waiting.front();
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
    for (std::size_t sheet = pool.played; sheet < pool.begun; ++sheet) {
        const sheet_slot& slot = *pool.sheets[sheet];
        waiting += slot.one_at_a_time ? std::size_t{has_track_to_hand_out(slot)} : slot.jobs.size() - slot.handed_out;
    }
    return waiting;
}

// Under the lock: the next track of the earliest sheet begun, else the next
// sheet's beginning, else nothing for now.
pool_work next_work(sheet_pool& pool)
{
    for (std::size_t sheet = pool.played; sheet < pool.begun; ++sheet) {
        sheet_slot& slot = *pool.sheets[sheet];
        if (has_track_to_hand_out(slot)) {
            track_job& job = next_job(slot, pool.jobs);
            ++slot.handed_out;
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
    const bool no_tracks = jobs.empty();
    pool.tally->tracks_known += static_cast<int>(jobs.size());
    {
        const std::lock_guard<std::mutex> hold(pool.lock);
        slot.tracks = tracks;
        // Read now: the BIN goes with the sheet's end, the slot only once it is played.
        slot.one_at_a_time = tracks.bin != nullptr && tracks.bin->one_reader;
        slot.jobs = std::move(jobs);
        slot.left = slot.jobs.size();
        slot.stopped = slot.before.stopped;
        --pool.beginning;
        if (no_work_to_come(pool))
            pool.tally->every_sheet_read = true;
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
    const voice said = recorder_for(pool, job.said);
    const track_span& track = slot.tracks.layout->tracks[job.number];
    // A track whose name is known says its line as it begins, so that the
    // dialogue goes on while it is written.
    own.writer.bin.feed = slot.tracks.feed;
    own.writer.bin.feed_owner = static_cast<std::size_t>(job.number);
    own.writer.said_early =
        slot.tracks.write == extract_track && named_before_writing(slot.tracks.format, job.number, track);
    if (own.writer.said_early) {
        say_track_begins(said, own.writer, job.number, track);
        end_dialogue(job.said);
    }
    job.outcome = slot.tracks.write(said, own.writer, job.number, track, job.progress);
    // What the track claimed and did not read is the feed's own to read.
    if (slot.tracks.feed != nullptr)
        release_feed_owner(*slot.tracks.feed, static_cast<std::size_t>(job.number));
    own.writer.bin.feed = nullptr;
    own.writer.said_early = false;
    own.writer.kept_early = false;
    if (job.outcome.written)
        ++pool.tally->tracks_written;
    end_recording(job.said);
    bool last = false;
    bool in_turn = false;
    {
        const std::lock_guard<std::mutex> hold(pool.lock);
        in_turn = slot.one_at_a_time;
        // With no job of the sheet left to hand out, its files are closed
        // before its end removes what it unpacked: Windows removes no open file.
        if (std::all_of(slot.jobs.begin(), slot.jobs.end(), [](const track_job& other) { return other.started; }))
            keep_reader_for(own, no_sheet, nullptr);
        last = --slot.left == 0;
    }
    // Past the lock the slot is another's to end and free, unless this was its last track.
    if (in_turn)
        pool.changed.notify_all();   // the sheet's next track may go to any writer now
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

} // namespace

void wait_until(sheet_pool& pool, std::unique_lock<std::mutex>& hold, const std::function<bool()>& ready)
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

int run_sheets(console& c, const std::vector<const char*>& sheets, int jobs, const sheet_steps& steps,
               call_tally& tally)
{
    const std::size_t count = sheets.size();
    sheet_pool pool;
    pool.steps = &steps;
    pool.names = &sheets;
    pool.tally = &tally;
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

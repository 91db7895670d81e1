#include "app/track_pool.h"

#include "app/track_recorder.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace {

using clock_type = std::chrono::steady_clock;
constexpr auto progress_interval = std::chrono::milliseconds(250);

struct track_job {
    std::int32_t number = 0;
    std::int64_t bytes = 0;                  // of the BIN it takes
    std::atomic<std::int64_t> progress{0};   // of those, taken so far
    bool started = false;
    track_recorder said;
    track_outcome outcome{};
};

struct track_pool {
    std::mutex lock;                 // guards every job's started and said
    std::condition_variable changed;
    std::vector<track_job> jobs;     // by track number - 1
    std::vector<std::size_t> order;  // the order the writers take them in
    std::size_t next = 0;
};

// Encoding takes some 200 times longer per sector than copying: the longest
// tracks go first, so the writers end together.
std::vector<std::size_t> longest_first(const track_pool& pool, const disc_layout& layout)
{
    std::vector<std::size_t> order(pool.jobs.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    const auto cost = [&](std::size_t i) {
        const track_span& track = layout.tracks[pool.jobs[i].number];
        const std::int64_t sectors = std::max(track.length_sectors, 0);
        return track.is_audio != 0 ? sectors * 200 : sectors;
    };
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return cost(a) > cost(b); });
    return order;
}

void run_writer(track_pool& pool, track_writer& writer, const disc_layout& layout)
{
    for (;;) {
        track_job* job = nullptr;
        {
            const std::lock_guard<std::mutex> hold(pool.lock);
            if (pool.next == pool.order.size())
                return;
            job = &pool.jobs[pool.order[pool.next++]];
            job->started = true;
        }
        job->outcome =
            extract_track(recording_voice(job->said), writer, job->number, layout.tracks[job->number], job->progress);
        end_recording(job->said);
    }
}

// "track 3 45%, track 4 12%; 24.3x real time": the tracks being written,
// how far each is, and how fast the disc goes, in seconds of CD per second.
void format_progress(track_pool& pool, clock_type::time_point start, char (&text)[160])
{
    std::size_t length = 0;
    std::int64_t bytes_done = 0;
    int shown = 0;
    const std::lock_guard<std::mutex> hold(pool.lock);
    for (const track_job& job : pool.jobs) {
        const std::int64_t done = job.progress.load(std::memory_order_relaxed);
        bytes_done += done;
        if (!job.started || job.said.done || shown == 3 || length + 32 >= sizeof text)
            continue;
        const int percent = job.bytes > 0 ? static_cast<int>(std::min<std::int64_t>(done * 100 / job.bytes, 100)) : 0;
        length += static_cast<std::size_t>(std::snprintf(text + length, sizeof text - length, "%strack %i %i%%",
                                                         shown++ > 0 ? ", " : "", static_cast<int>(job.number),
                                                         percent));
    }
    const double seconds = std::chrono::duration<double>(clock_type::now() - start).count();
    const double cd_seconds = static_cast<double>(bytes_done) / (2352.0 * 75.0);
    std::snprintf(text + length, sizeof text - length, "; %.1fx real time", seconds > 0 ? cd_seconds / seconds : 0.0);
}

// Plays every job's recording in track order as its lines come in; between
// lines, redraws the progress line.
void play_in_order(console& c, track_pool& pool)
{
    const clock_type::time_point start = clock_type::now();
    for (track_job& job : pool.jobs) {
        std::size_t shown = 0;
        for (;;) {
            std::vector<recorded_line> lines;
            bool done = false;
            {
                std::unique_lock<std::mutex> hold(pool.lock);
                pool.changed.wait_for(hold, progress_interval,
                                      [&] { return job.said.lines.size() > shown || job.said.done; });
                lines.assign(job.said.lines.begin() + static_cast<std::ptrdiff_t>(shown), job.said.lines.end());
                shown = job.said.lines.size();
                done = job.said.done;
            }
            for (const recorded_line& line : lines)
                play(c, line);
            if (done)
                break;
            char text[160];
            format_progress(pool, start, text);
            draw_progress(c, text);
        }
    }
    erase_progress(c);
}

} // namespace

std::vector<track_outcome> write_tracks(console& c, const output_folder& folder, const track_format& format,
                                        const std::vector<track_comments>& comments, const virtual_bin& bin,
                                        const disc_layout& layout, int jobs)
{
    if (layout.track_count <= 0)
        return std::vector<track_outcome>(1);
    track_pool pool;
    pool.jobs = std::vector<track_job>(static_cast<std::size_t>(layout.track_count));
    for (std::int32_t number = 1; number <= layout.track_count; ++number) {
        track_job& job = pool.jobs[static_cast<std::size_t>(number - 1)];
        job.number = number;
        job.said.lock = &pool.lock;
        job.said.changed = &pool.changed;
        job.bytes = std::int64_t{std::max(layout.tracks[number].length_sectors, 0)} * raw_sector_size;
    }
    if (jobs <= 1) {
        for (std::size_t i = 0; i < pool.jobs.size(); ++i)
            pool.order.push_back(i);
    } else {
        pool.order = longest_first(pool, layout);
    }

    serial_source serials;
    const std::size_t writer_count = std::min(static_cast<std::size_t>(std::max(jobs, 1)), pool.jobs.size());
    std::vector<track_writer> writers(writer_count);
    std::vector<std::thread> threads;
    for (track_writer& writer : writers) {
        writer.folder = &folder;
        writer.format = format;
        writer.comments = &comments;
        writer.serials = &serials;
        writer.bin.bin = &bin;
        try {
            threads.emplace_back(run_writer, std::ref(pool), std::ref(writer), std::cref(layout));
        } catch (const std::system_error&) {
            break;   // the system gives no more threads: fewer writers do the work
        }
    }
    if (threads.empty())
        run_writer(pool, writers.front(), layout);
    play_in_order(c, pool);
    for (std::thread& thread : threads)
        thread.join();

    std::vector<track_outcome> outcomes(pool.jobs.size() + 1);
    for (const track_job& job : pool.jobs)
        outcomes[static_cast<std::size_t>(job.number)] = job.outcome;
    return outcomes;
}

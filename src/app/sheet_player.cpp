#include "app/progress_line.h"
#include "app/sheet_pool_state.h"
#include "base/paths.h"

#include <algorithm>

namespace {

// The figures of the progress line, as the writers have them now.
progress_figures progress_now(sheet_pool& pool, clock_type::time_point start)
{
    progress_figures now;
    now.seconds = std::chrono::duration<double>(clock_type::now() - start).count();
    now.sheet_count = pool.sheets.size();
    const std::lock_guard<std::mutex> hold(pool.lock);
    now.bytes_done = pool.bytes_played;
    now.work_done = now.work_known = pool.work_played;
    now.tracks_done = now.tracks_known = pool.tracks_played;
    now.sheets_read = now.sheets_played = pool.played;
    for (std::size_t sheet = pool.played; sheet < pool.begun; ++sheet) {
        const sheet_slot& slot = *pool.sheets[sheet];
        if (!slot.before.done)
            continue;   // its jobs are not set out yet
        ++now.sheets_read;
        bool at_work = false;
        for (const track_job& job : slot.jobs) {
            const std::int64_t done = job.progress.load(std::memory_order_relaxed);
            now.bytes_done += done;
            now.work_done += static_cast<double>((job.said.done ? job.bytes : done) * job.cost);
            now.work_known += static_cast<double>(job.bytes * job.cost);
            ++now.tracks_known;
            now.tracks_done += job.said.done ? 1 : 0;
            at_work = at_work || (job.started && !job.said.done);
        }
        if (at_work)
            now.sheets_at_work.push_back(sheet);
    }
    if (now.sheets_at_work.empty() && pool.played < pool.sheets.size())
        now.sheets_at_work.push_back(pool.played);
    for (const std::size_t sheet : now.sheets_at_work)
        now.names.emplace_back(base_name((*pool.names)[sheet]));
    return now;
}

void show_progress(console& c, sheet_pool& pool, clock_type::time_point start)
{
    if (!c.show_progress)
        return;
    const progress_line line = progress_text(progress_now(pool, start), pool.shown_percent);
    draw_progress(c, line.text, line.columns);
}

// How far one stream of a sheet's lines, dialogue or problems, has been
// played: the transcript it is in (before, the tracks', after) and the lines
// of it looked at.
struct stream_place {
    bool problems = false;
    std::size_t transcript = 0;
    std::size_t line = 0;
};

// A line due to be played, with its place, so that the lines of the two
// streams taken together are played in the order they were said.
struct due_line {
    std::size_t transcript;
    std::size_t line;
    recorded_line said;
};

// Under the lock: the sheet's transcripts, once its begin has set out its
// tracks; only the first before that.
std::size_t transcripts_of(const sheet_slot& slot) { return slot.before.done ? slot.jobs.size() + 2 : 1; }

line_recorder& transcript_at(sheet_slot& slot, std::size_t index)
{
    if (index == 0)
        return slot.before;
    return index <= slot.jobs.size() ? slot.jobs[index - 1].said : slot.after;
}

// Under the lock: takes the stream's lines that may be played now, and moves
// its place on. A transcript's dialogue may be played once every transcript
// before it has said its dialogue; its problems once every one before it
// has ended.
void take_due_lines(sheet_slot& slot, stream_place& at, std::vector<due_line>& due)
{
    while (at.transcript < transcripts_of(slot)) {
        const line_recorder& said = transcript_at(slot, at.transcript);
        for (; at.line < said.lines.size(); ++at.line)
            if (said.lines[at.line].problem == at.problems)
                due.push_back(due_line{at.transcript, at.line, said.lines[at.line]});
        if (!(at.problems ? said.done : said.dialogue_done))
            return;
        ++at.transcript;
        at.line = 0;
    }
}

// Plays everything the sheet's run says, each stream as soon as its order
// allows; between lines, redraws the progress line.
void play_lines(console& c, sheet_pool& pool, sheet_slot& slot, clock_type::time_point start)
{
    stream_place dialogue{false};
    stream_place problems{true};
    for (;;) {
        std::vector<due_line> due;
        bool played_all = false;
        {
            std::unique_lock<std::mutex> hold(pool.lock);
            wait_until(pool, hold, [&] {
                take_due_lines(slot, dialogue, due);
                take_due_lines(slot, problems, due);
                const std::size_t count = transcripts_of(slot);
                played_all = slot.before.done && dialogue.transcript == count && problems.transcript == count;
                return played_all || !due.empty();
            });
        }
        std::stable_sort(due.begin(), due.end(), [](const due_line& a, const due_line& b) {
            return a.transcript != b.transcript ? a.transcript < b.transcript : a.line < b.line;
        });
        for (const due_line& line : due)
            play(c, line.said);
        if (played_all)
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
        for (const track_job& job : pool.sheets[sheet]->jobs) {
            pool.bytes_played += job.progress.load(std::memory_order_relaxed);
            pool.work_played += static_cast<double>(job.bytes * job.cost);
            ++pool.tracks_played;
        }
        pool.sheets[sheet].reset();
        ++pool.played;
    }
    pool.changed.notify_all();   // the writers may run one sheet further ahead
}

} // namespace

int play_sheet(console& c, sheet_pool& pool, std::size_t sheet, clock_type::time_point start)
{
    console run = console_beside(c);
    run.problem_log = pool.steps->problem_log(sheet);
    run.output_loss_told = &pool.output_loss_told;
    if (pool.sheets.size() > 1)
        run.problem_prefix = name_on_line((*pool.names)[sheet]) + ": ";
    sheet_slot& slot = reach_sheet(run, pool, sheet, start);
    play_lines(run, pool, slot, start);
    {
        const std::lock_guard<std::mutex> hold(pool.lock);
        run.stopped = slot.stopped;
    }
    const int status = pool.steps->played(run, sheet, finish(run));
    release_sheet(pool, sheet);
    return status;
}


#include "base/ordered_stream.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

namespace {

// A consumer takes at most this much a call, so the ring frees up steadily.
constexpr std::int64_t largest_take = std::int64_t{1} << 20;
// A waiting consumer is woken once this much is there for it, not for each
// of the small pieces an audio track is read in.
constexpr std::int64_t wake_bytes = std::int64_t{256} << 10;

} // namespace

struct ordered_stream_state {
    stream_plan plan;
    std::int64_t window = 0;
    // Left unset: every byte is put or filled before it is taken, and
    // zeroing a ring of tens of megabytes would hold up the start.
    std::unique_ptr<unsigned char[]> ring;
    std::mutex lock;
    std::condition_variable changed;
    std::vector<std::int64_t> taken;      // each consumer's position
    std::int64_t low = 0;                 // the least of them: the ring holds [low, low + window)
    std::vector<stream_range> present;    // bytes in the ring from low on: sorted, apart, merged
    stream_range filling{};               // being read by the filler, outside the lock
    std::vector<std::thread> threads;
    std::vector<std::size_t> unthreaded;  // consumers run by the producers' calls instead
    std::vector<char> waiting;            // by consumer: it waits for bytes
    int producers_waiting = 0;            // producers that wait for room, or to pump (finish too)
    bool pumping = false;
    bool finished = false;
};

namespace {

std::int64_t present_end(const ordered_stream_state& s, std::int64_t at)
{
    for (const stream_range& range : s.present)
        if (range.first <= at && at < range.end)
            return range.end;
    return at;
}

std::int64_t next_present(const ordered_stream_state& s, std::int64_t at)
{
    std::int64_t next = s.plan.total;
    for (const stream_range& range : s.present)
        if (range.first > at)
            next = std::min(next, range.first);
    return next;
}

// Where the filler must stop: the next bytes present or claimed.
std::int64_t next_boundary(const ordered_stream_state& s, std::int64_t at)
{
    std::int64_t next = next_present(s, at);
    for (const stream_claim& claim : s.plan.claims)
        if (claim.open && claim.range.first > at)
            next = std::min(next, claim.range.first);
    return next;
}

bool is_claimed(const ordered_stream_state& s, std::int64_t at)
{
    return std::any_of(s.plan.claims.begin(), s.plan.claims.end(), [at](const stream_claim& claim) {
        return claim.open && claim.range.first <= at && at < claim.range.end;
    });
}

std::int64_t next_mark(const ordered_stream_state& s, std::int64_t at)
{
    const auto mark = std::upper_bound(s.plan.marks.begin(), s.plan.marks.end(), at);
    return mark == s.plan.marks.end() ? s.plan.total : *mark;
}

void add_present(ordered_stream_state& s, std::int64_t first, std::int64_t end)
{
    s.present.push_back({first, end});
    std::sort(s.present.begin(), s.present.end(),
              [](const stream_range& a, const stream_range& b) { return a.first < b.first; });
    std::vector<stream_range> merged;
    for (const stream_range& range : s.present) {
        if (!merged.empty() && range.first <= merged.back().end)
            merged.back().end = std::max(merged.back().end, range.end);
        else
            merged.push_back(range);
    }
    s.present = std::move(merged);
}

// The consumers' least position moved: what every one of them has taken
// leaves the ring.
void advance_low(ordered_stream_state& s)
{
    s.low = *std::min_element(s.taken.begin(), s.taken.end());
    std::erase_if(s.present, [&s](const stream_range& range) { return range.end <= s.low; });
    if (!s.present.empty())
        s.present.front().first = std::max(s.present.front().first, s.low);
}

// Copies bytes for [first, end) into the ring, across its end if need be.
void copy_in(ordered_stream_state& s, std::int64_t first, std::int64_t end, const unsigned char* bytes)
{
    while (first < end) {
        const std::int64_t slot = first % s.window;
        const std::int64_t count = std::min(end - first, s.window - slot);
        std::memcpy(s.ring.get() + slot, bytes, static_cast<std::size_t>(count));
        first += count;
        bytes += count;
    }
}

// One call of consumer c, or of the filler for it: false when it must wait.
bool step(ordered_stream_state& s, std::size_t c, std::unique_lock<std::mutex>& hold)
{
    const std::int64_t at = s.taken[c];
    if (at >= s.plan.total)
        return false;
    const std::int64_t slot = at % s.window;
    if (const std::int64_t end = present_end(s, at); end > at) {
        const std::int64_t count = std::min({end - at, largest_take, s.window - slot, next_mark(s, at) - at});
        hold.unlock();
        s.plan.consumers[c](at, s.ring.get() + slot, static_cast<std::size_t>(count));
        hold.lock();
        s.taken[c] += count;
        advance_low(s);
        // The room it made is for producers, and for the filler where the
        // first consumer waits on bytes that no producer claims (on claimed
        // ones it waits for their producer, which wakes it).
        if (s.producers_waiting > 0 || (s.waiting[0] != 0 && !is_claimed(s, s.taken[0])))
            s.changed.notify_all();
        return true;
    }
    // The first consumer reads what no producer will put, one at a time.
    if (c != 0 || s.filling.end > s.filling.first || is_claimed(s, at))
        return false;
    const std::int64_t end = std::min({next_boundary(s, at), next_mark(s, at), s.low + s.window, at + largest_take,
                                       at + s.window - slot});
    if (end <= at)
        return false;
    s.filling = {at, end};
    hold.unlock();
    const auto count = static_cast<std::size_t>(end - at);
    const std::size_t got = s.plan.fill ? std::min(s.plan.fill(at, s.ring.get() + slot, count), count) : 0;
    std::memset(s.ring.get() + slot + got, 0, count - got);
    hold.lock();
    s.filling = {};
    add_present(s, at, end);
    s.changed.notify_all();
    return true;
}

// Runs the consumers that have no thread while they can go on; false when
// none could.
bool pump(ordered_stream_state& s, std::unique_lock<std::mutex>& hold)
{
    if (s.unthreaded.empty() || s.pumping)
        return false;
    s.pumping = true;
    bool any = false;
    for (bool progressed = true; progressed;) {
        progressed = false;
        for (const std::size_t c : s.unthreaded)
            while (step(s, c, hold))
                progressed = any = true;
    }
    s.pumping = false;
    // For whoever found it pumping and waits to pump in turn.
    if (s.producers_waiting > 0)
        s.changed.notify_all();
    return any;
}

void consume(ordered_stream_state& s, std::size_t c)
{
    std::unique_lock<std::mutex> hold(s.lock);
    while (s.taken[c] < s.plan.total) {
        if (step(s, c, hold))
            continue;
        s.waiting[c] = 1;
        s.changed.wait(hold);
        s.waiting[c] = 0;
    }
}

// Whether a waiting consumer has enough before it to be woken for.
bool worth_waking(const ordered_stream_state& s)
{
    const std::int64_t enough = std::min(wake_bytes, s.window / 8);
    for (std::size_t c = 0; c < s.waiting.size(); ++c)
        if (s.waiting[c] != 0 && present_end(s, s.taken[c]) - s.taken[c] >= enough)
            return true;
    return false;
}

} // namespace

ordered_stream::ordered_stream(stream_plan plan) : state_(std::make_unique<ordered_stream_state>())
{
    ordered_stream_state& s = *state_;
    s.plan = std::move(plan);
    // No larger than the stream: a short one needs no more.
    s.window = std::max<std::int64_t>(std::min(static_cast<std::int64_t>(s.plan.window), s.plan.total), 4096);
    s.ring = std::make_unique_for_overwrite<unsigned char[]>(static_cast<std::size_t>(s.window));
    s.taken.assign(s.plan.consumers.size(), 0);
    if (s.taken.empty())
        s.taken.push_back(s.plan.total);   // nobody takes anything: the stream is taken whole
    s.waiting.assign(s.taken.size(), 0);
    const std::unique_lock<std::mutex> hold(s.lock);
    for (std::size_t c = 0; c < s.plan.consumers.size(); ++c) {
        if (c < s.plan.by_producers.size() && s.plan.by_producers[c]) {
            s.unthreaded.push_back(c);
            continue;
        }
        try {
            s.threads.emplace_back(consume, std::ref(s), c);
        } catch (const std::system_error&) {
            s.unthreaded.push_back(c);   // the system gives no more threads
        }
    }
}

ordered_stream::~ordered_stream() { finish(); }

void ordered_stream::put(std::int64_t at, const unsigned char* bytes, std::size_t size)
{
    ordered_stream_state& s = *state_;
    std::unique_lock<std::mutex> hold(s.lock);
    const std::int64_t piece_limit = std::max<std::int64_t>(s.window / 4, 1);
    for (std::int64_t left = static_cast<std::int64_t>(size); left > 0;) {
        const std::int64_t piece = std::min(left, piece_limit);
        for (;;) {
            const std::int64_t first = std::max(at, s.low);
            const std::int64_t end = at + piece;
            if (end <= first)
                break;   // taken already
            if (end > s.low + s.window) {
                if (!pump(s, hold)) {
                    ++s.producers_waiting;
                    s.changed.wait(hold);
                    --s.producers_waiting;
                }
                continue;
            }
            // Only the bytes the stream does not have yet, nor is reading.
            for (std::int64_t from = first; from < end;) {
                std::int64_t to = present_end(s, from);
                if (s.filling.first <= from && from < s.filling.end)
                    to = s.filling.end;
                if (to > from) {
                    from = to;
                    continue;
                }
                to = std::min(end, next_present(s, from));
                if (s.filling.end > s.filling.first && s.filling.first > from)
                    to = std::min(to, s.filling.first);
                copy_in(s, from, to, bytes + (from - at));
                add_present(s, from, to);
                from = to;
            }
            if (worth_waking(s))
                s.changed.notify_all();
            break;
        }
        at += piece;
        bytes += piece;
        left -= piece;
    }
    pump(s, hold);
}

void ordered_stream::release(std::size_t owner)
{
    ordered_stream_state& s = *state_;
    std::unique_lock<std::mutex> hold(s.lock);
    for (stream_claim& claim : s.plan.claims)
        if (claim.owner == owner)
            claim.open = false;
    s.changed.notify_all();
    pump(s, hold);
}

void ordered_stream::finish()
{
    ordered_stream_state& s = *state_;
    {
        std::unique_lock<std::mutex> hold(s.lock);
        if (s.finished)
            return;
        s.finished = true;
        for (stream_claim& claim : s.plan.claims)
            claim.open = false;
        s.changed.notify_all();
        while (std::any_of(s.unthreaded.begin(), s.unthreaded.end(),
                           [&s](std::size_t c) { return s.taken[c] < s.plan.total; }))
            if (!pump(s, hold)) {
                ++s.producers_waiting;
                s.changed.wait(hold);
                --s.producers_waiting;
            }
    }
    for (std::thread& thread : s.threads)
        thread.join();
}

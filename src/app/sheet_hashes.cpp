#include "app/sheet_hashes.h"

#include "base/paths.h"
#include "cue/layout.h"

#include <algorithm>

namespace {

// The writers after the first may run this far ahead of the bytes being
// hashed (some 4 minutes of audio each), holding what they read for the
// hashes meanwhile; one writer keeps the hashes a few blocks behind.
constexpr std::size_t window_alone = std::size_t{8} << 20;
constexpr std::size_t window_per_writer = std::size_t{48} << 20;
constexpr std::size_t window_limit = std::size_t{200} << 20;

// A BIN's tail and what lies before track 1 are kept up to this size.
constexpr std::int64_t kept_run_limit = std::int64_t{1} << 20;

} // namespace

std::size_t feed_window(int writers)
{
    return std::min(window_alone + window_per_writer * static_cast<std::size_t>(std::max(writers, 1) - 1),
                    window_limit);
}

std::unique_ptr<source_feed> start_hashing(const disc_source& source, const disc_layout& layout, int writers,
                                           bool keep_tails)
{
    // A disc of fewer track files than writers leaves the others idle: a
    // ring for them would only be memory to fault in and give back. The
    // sectors before track 1 may be a file of their own (track 0).
    const bool track_zero = first_track_file(layout) == 0 || (keep_tails && layout.tracks[1].start_sector > 0);
    const int files = std::max(layout.track_count + (track_zero ? 1 : 0), 1);
    feed_plan plan = split_feed_plan(source, layout, feed_window(std::min(writers, files)));
    plan.keep_limit = keep_tails ? kept_run_limit : 0;
    return start_feed(std::move(plan));
}

std::vector<hashed_file> hashed_files(voice c, const disc_source& source, const source_feed& feed)
{
    std::vector<hashed_file> files;
    files.push_back({source.sheet_name, digest_of(source.sheet_bytes), true});
    for (std::size_t i = 0; i < feed.files.size(); ++i) {
        files.push_back({feed.files[i].name, feed.digests[i], !feed.unreadable[i]});
        if (feed.unreadable[i])
            report(c, "%s could not be read to its end; it has no hashes", feed.files[i].name.c_str());
    }
    return files;
}

void say_hashes(voice c, const std::vector<hashed_file>& files)
{
    for (const hashed_file& file : files)
        if (file.whole)
            say(c, "%s: %lld bytes, CRC32 %s, MD5 %s, SHA-1 %s\n", file.name.c_str(),
                static_cast<long long>(file.digest.size), crc32_hex(file.digest.crc32).c_str(),
                hex_of(file.digest.md5).c_str(), hex_of(file.digest.sha1).c_str());
}

#include "cue/source_feed.h"

#include "base/file_stream.h"
#include "base/paths.h"
#include "base/platform.h"
#include "cue/disc_source.h"

#include <algorithm>
#include <cstdio>

namespace {

// Hashes each file of the stream as its bytes come, in order.
struct file_hasher {
    const std::vector<feed_file>* files = nullptr;
    unsigned parts = all_parts;
    std::size_t file = 0;
    bool started = false;
    hash_state state;
    std::vector<file_digest> digests;
};

// Finishes every file that ends at or before `at` (empty ones too).
void hash_up_to(file_hasher& hasher, std::int64_t at)
{
    const std::vector<feed_file>& files = *hasher.files;
    for (; hasher.file < files.size(); ++hasher.file) {
        const feed_file& file = files[hasher.file];
        if (!hasher.started) {
            start_hash(hasher.state, hasher.parts);
            hasher.started = true;
        }
        if (file.first + file.size > at)
            return;
        finish_hash(hasher.state, hasher.digests[hasher.file]);
        hasher.started = false;
    }
}

void hash_bytes(file_hasher& hasher, std::int64_t at, const unsigned char* bytes, std::size_t size)
{
    hash_up_to(hasher, at);
    add_bytes(hasher.state, bytes, size);
}

// Copies what the filler read into the runs it keeps.
void keep_filled(source_feed& feed, std::int64_t at, const unsigned char* bytes, std::size_t size)
{
    const std::int64_t end = at + static_cast<std::int64_t>(size);
    for (std::size_t i = 0; i < feed.kept_ranges.size(); ++i) {
        const stream_range& range = feed.kept_ranges[i];
        const std::int64_t first = std::max(at, range.first);
        const std::int64_t last = std::min(end, range.end);
        if (first < last)
            feed.kept[i].replace(static_cast<std::size_t>(first - range.first), static_cast<std::size_t>(last - first),
                                 reinterpret_cast<const char*>(bytes + (first - at)),
                                 static_cast<std::size_t>(last - first));
    }
}

// The runs of [0, total) that no claim covers.
std::vector<stream_range> unclaimed_runs(const std::vector<feed_claim>& claims, std::int64_t total)
{
    std::vector<stream_range> claimed;
    for (const feed_claim& claim : claims)
        claimed.push_back({claim.stream_first, claim.stream_first + (claim.bin_end - claim.bin_first)});
    std::sort(claimed.begin(), claimed.end(),
              [](const stream_range& a, const stream_range& b) { return a.first < b.first; });
    std::vector<stream_range> runs;
    std::int64_t at = 0;
    for (const stream_range& range : claimed) {
        if (range.first > at)
            runs.push_back({at, range.first});
        at = std::max(at, range.end);
    }
    if (at < total)
        runs.push_back({at, total});
    return runs;
}

// Reads stream bytes no track takes from the file that holds them, keeping
// that file open from one call to the next.
struct file_filler {
    std::size_t file = SIZE_MAX;
    file_stream stream;
    std::unique_ptr<part_decoder> decoder;   // for a file read through its reader
};

std::size_t read_through(part_decoder& decoder, std::int64_t offset, unsigned char* buffer, std::size_t size)
{
    std::size_t got = 0;
    for (std::size_t n = 1; got < size && n > 0; got += n)
        n = decoder.read(offset + static_cast<std::int64_t>(got), buffer + got, size - got);
    return got;
}

std::size_t fill_from_file(source_feed& feed, file_filler& filler, std::int64_t at, unsigned char* buffer,
                           std::size_t size)
{
    std::size_t index = 0;
    while (index + 1 < feed.files.size() && feed.files[index + 1].first <= at)
        ++index;
    const feed_file& file = feed.files[index];
    if (filler.file != index) {
        filler.decoder = file.reader ? file.reader(file_part(file.path, 0, file.size)) : nullptr;
        filler.stream = file.reader ? file_stream{} : open_regular_file(file.path.c_str());
        filler.file = index;
    }
    std::size_t got = 0;
    if (filler.decoder)
        got = read_through(*filler.decoder, at - file.first, buffer, size);
    else if (filler.stream && seek_to(filler.stream.get(), at - file.first))
        got = std::fread(buffer, 1, size, filler.stream.get());
    if (got < size)
        feed.unreadable[index] = true;
    keep_filled(feed, at, buffer, got);
    return got;
}

// A run of the virtual BIN read as a file of its own.
class bin_run_reader final : public part_decoder {
public:
    bin_run_reader(const virtual_bin& bin, std::int64_t first) : first_(first) { reader_.bin = &bin; }
    std::size_t read(std::int64_t offset, unsigned char* buffer, std::size_t size) override
    {
        return read_bin(reader_, first_ + offset, buffer, size);
    }

private:
    bin_reader reader_;
    std::int64_t first_;
};

file_form form_of(const bin_file_entry& entry, const bin_part& part)
{
    if (!part.decoder || part.verbatim)
        return file_form::as_it_stands;
    if (entry.kind == file_kind::motorola)
        return file_form::swapped;
    if (entry.kind == file_kind::binary && entry.sector_bytes == mode1_user_data_bytes)
        return file_form::user_data;
    return file_form::decoded;
}

// A sheet's files, each with the run of the BIN that is its bytes as they
// stand, if one is.
std::vector<feed_file> sheet_feed_files(const disc_source& source)
{
    std::vector<feed_file> files;
    std::int64_t first = 0;
    const std::vector<bin_file_entry>& entries = source.sheet.bin_files;
    for (const bin_part& part : source.bin.parts) {
        if (part.silence)
            continue;
        const std::size_t i = files.size();
        feed_file file;
        file.name = i < entries.size() ? entries[i].name : base_name(part.path.c_str());
        file.path = part.path;
        file.size = part.file_offset + part.bytes;
        if (i < entries.size())
            file.size = entries[i].file_bytes >= 0 ? entries[i].file_bytes : std::max(file.size, entries[i].size_bytes);
        file.first = first;
        file.bin_first = part.first_byte;
        file.bin_bytes = part.bytes;
        file.bin_offset = part.file_offset;
        file.form = i < entries.size() ? form_of(entries[i], part) : file_form::decoded;
        if (part.verbatim)
            file.reader = part.decoder;
        else if (part.source)
            file.reader = part.hashed_source ? part.hashed_source : part.source;
        first += file.size;
        files.push_back(std::move(file));
    }
    return files;
}

// The dump's files of a source that keeps them in another form: each a run
// of the BIN, which the filler reads through the BIN.
std::vector<feed_file> image_feed_files(const disc_source& source)
{
    std::vector<feed_file> files;
    std::int64_t first = 0;
    const virtual_bin* bin = &source.bin;
    for (const image_file& image : source.image_files) {
        feed_file file;
        file.name = image.name;
        file.size = file.bin_bytes = image.bytes;
        file.first = first;
        file.form = file_form::as_it_stands;
        file.bin_first = image.bin_first;
        file.reader = [bin, at = image.bin_first](const bin_part&) {
            return std::make_unique<bin_run_reader>(*bin, at);
        };
        first += file.size;
        files.push_back(std::move(file));
    }
    return files;
}

struct feed_state {
    file_hasher md5;
    file_hasher others;
    file_filler filler;
};

} // namespace

std::vector<feed_claim> claims_for(const std::vector<feed_segment>& segments, std::size_t owner,
                                   std::int64_t bin_first, std::int64_t bin_end)
{
    std::vector<feed_claim> claims;
    for (const feed_segment& segment : segments) {
        const std::int64_t first = std::max(bin_first, segment.bin_first);
        const std::int64_t end = std::min(bin_end, segment.bin_first + segment.bytes);
        if (first < end)
            claims.push_back({owner, first, end, segment.stream_first + (first - segment.bin_first)});
    }
    return claims;
}

feed_plan split_feed_plan(const disc_source& source, const disc_layout& layout, std::size_t window)
{
    feed_plan plan;
    plan.window = window;
    plan.files = source.image_files.empty() ? sheet_feed_files(source) : image_feed_files(source);
    for (const feed_file& file : plan.files)
        // Only bytes as they stand are the stream's: the filler reads the others.
        if (file.form == file_form::as_it_stands)
            plan.segments.push_back({file.bin_first, file.bin_bytes, file.first + file.bin_offset});
    const std::int64_t bin_size = source.bin.size_bytes;
    const auto bin_byte = [bin_size](std::int64_t sector) {
        return std::clamp<std::int64_t>(sector * raw_sector_size, 0, bin_size);
    };
    if (layout.track_count > 0) {
        const std::vector<feed_claim> before =
            claims_for(plan.segments, 0, 0, bin_byte(layout.tracks[1].start_sector));
        plan.claims.insert(plan.claims.end(), before.begin(), before.end());
    }
    for (std::int32_t number = 1; number <= layout.track_count; ++number) {
        const track_span& track = layout.tracks[number];
        const std::int64_t start = track.start_sector;
        const std::vector<feed_claim> claims = claims_for(
            plan.segments, static_cast<std::size_t>(number), bin_byte(start),
            bin_byte(start + std::max(track.length_sectors, 0)));
        plan.claims.insert(plan.claims.end(), claims.begin(), claims.end());
    }
    return plan;
}

std::unique_ptr<source_feed> start_feed(feed_plan plan)
{
    auto feed = std::make_unique<source_feed>();
    feed->files = std::move(plan.files);
    feed->unreadable.assign(feed->files.size(), false);
    feed->digests.resize(feed->files.size());

    // The hashers and the filler live as long as the stream's threads: the
    // stream is finished before they go.
    auto hashers = std::make_shared<feed_state>();
    for (file_hasher* hasher : {&hashers->md5, &hashers->others}) {
        hasher->files = &feed->files;
        hasher->digests.resize(feed->files.size());
    }
    hashers->md5.parts = plan.parts & md5_part;
    hashers->others.parts = plan.parts & (sha1_part | crc32_part);

    stream_plan stream;
    const feed_file* last = feed->files.empty() ? nullptr : &feed->files.back();
    stream.total = last == nullptr ? 0 : last->first + last->size;
    std::int64_t unclaimed = 0;
    for (const stream_range& run : unclaimed_runs(plan.claims, stream.total)) {
        unclaimed += run.end - run.first;
        if (run.end - run.first <= plan.keep_limit) {
            feed->kept_ranges.push_back(run);
            feed->kept.emplace_back(static_cast<std::size_t>(run.end - run.first), '\0');
        }
    }
    stream.window = plan.window;
    for (const feed_file& file : feed->files)
        stream.marks.push_back(file.first);
    for (const feed_claim& claim : plan.claims) {
        stream.claims.push_back({{claim.stream_first, claim.stream_first + (claim.bin_end - claim.bin_first)},
                                 claim.owner});
        if (feed->claims.size() <= claim.owner)
            feed->claims.resize(claim.owner + 1);
        feed->claims[claim.owner].push_back(claim);
    }
    source_feed* self = feed.get();
    if (hashers->md5.parts != 0)
        stream.consumers.push_back([hashers](std::int64_t at, const unsigned char* bytes, std::size_t size) {
            hash_bytes(hashers->md5, at, bytes, size);
        });
    if (hashers->others.parts != 0) {
        // MD5, the slowest, keeps a processor to itself: where the writers
        // put (nearly) every byte, the others take them on the writers'
        // threads as they put them, rather than on a third thread that the
        // system would now and then run on the MD5's processor (where two
        // processors are all there is). Bytes the filler reads, no writer
        // would hash but as it waits: those keep a thread.
        stream.by_producers.assign(stream.consumers.size(), false);
        stream.by_producers.push_back(!stream.consumers.empty() &&
                                      unclaimed <= static_cast<std::int64_t>(plan.window));
        stream.consumers.push_back([hashers](std::int64_t at, const unsigned char* bytes, std::size_t size) {
            hash_bytes(hashers->others, at, bytes, size);
        });
    }
    for (stream_consumer& consumer : plan.more)
        stream.consumers.push_back(std::move(consumer));
    stream.fill = plan.fill ? std::move(plan.fill)
                            : stream_filler([self, hashers](std::int64_t at, unsigned char* buffer, std::size_t size) {
                                  return fill_from_file(*self, hashers->filler, at, buffer, size);
                              });
    feed->stream = std::make_unique<ordered_stream>(std::move(stream));
    feed->hashers = hashers;   // finish_feed joins the two halves of each digest
    return feed;
}

void feed_bin_bytes(source_feed& feed, std::size_t owner, std::int64_t bin_offset, const unsigned char* bytes,
                    std::size_t size)
{
    if (owner >= feed.claims.size())
        return;
    const std::int64_t bin_end = bin_offset + static_cast<std::int64_t>(size);
    for (const feed_claim& claim : feed.claims[owner]) {
        const std::int64_t first = std::max(bin_offset, claim.bin_first);
        const std::int64_t end = std::min(bin_end, claim.bin_end);
        if (first < end)
            feed.stream->put(claim.stream_first + (first - claim.bin_first), bytes + (first - bin_offset),
                             static_cast<std::size_t>(end - first));
    }
}

void release_feed_owner(source_feed& feed, std::size_t owner) { feed.stream->release(owner); }

void finish_feed(source_feed& feed)
{
    feed.stream->finish();
    auto& hashers = *std::static_pointer_cast<feed_state>(feed.hashers);
    hash_up_to(hashers.md5, INT64_MAX);
    hash_up_to(hashers.others, INT64_MAX);
    for (std::size_t i = 0; i < feed.files.size(); ++i) {
        feed.digests[i] = hashers.others.digests[i];
        feed.digests[i].md5 = hashers.md5.digests[i].md5;
    }
}

bool kept_bytes(const source_feed& feed, std::int64_t first, std::int64_t end, std::string& bytes)
{
    bytes.clear();
    if (first >= end)
        return true;
    for (std::size_t i = 0; i < feed.kept_ranges.size(); ++i) {
        const stream_range& range = feed.kept_ranges[i];
        if (range.first <= first && end <= range.end) {
            bytes = feed.kept[i].substr(static_cast<std::size_t>(first - range.first),
                                        static_cast<std::size_t>(end - first));
            return true;
        }
    }
    return false;
}

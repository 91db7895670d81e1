// Reading the members of a .zip or .7z archive with libarchive: the archive
// opened through a stream of our own, its regular files visited in order,
// and one member read at any offset from its start.
#pragma once

#include "base/file_stream.h"
#include "cue/virtual_bin.h"

#include <archive.h>
#include <archive_entry.h>

#include <cstddef>
#include <cstdint>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <string>
#include <vector>

constexpr std::size_t copy_block_size = std::size_t{1} << 20;

// The archive's file through a stream of our own: names in any language on
// Windows, and offsets past 2 GiB everywhere.
struct archive_input {
    file_stream file;
    std::int64_t position = 0;
    unsigned char block[65536];
};

struct archive_deleter {
    void operator()(archive* handle) const { archive_read_free(handle); }
};

// An archive open for reading, member after member.
struct open_archive {
    std::unique_ptr<archive_input> input = std::make_unique<archive_input>();
    std::unique_ptr<archive, archive_deleter> handle{archive_read_new()};
    std::string error;
    std::string member;   // the last member reached: an error while passing over it names it

    bool fail(const char* why);
};

bool open_archive_file(const char* path, open_archive& opened);

std::string member_name(archive_entry* entry);

// Calls visit(name, size) for each regular file of the archive, in order,
// until it returns false; the archive then stands at that file's data.
// False, with the error, when the archive cannot be read that far.
template <typename Visit>
bool visit_members(open_archive& opened, const Visit& visit)
{
    archive_entry* entry = nullptr;
    for (;;) {
        const int status = archive_read_next_header(opened.handle.get(), &entry);
        if (status == ARCHIVE_EOF)
            return true;
        if (status != ARCHIVE_OK && status != ARCHIVE_WARN)
            return opened.fail(archive_error_string(opened.handle.get()));
        opened.member = member_name(entry);
        if (archive_entry_filetype(entry) == AE_IFREG && !visit(opened.member, archive_entry_size(entry)))
            return true;
    }
}

// Reads a member from its start, for its first bytes: the first 64 KiB
// (where a WAVE file's chunks and a FLAC file's STREAMINFO are) kept in
// memory, a later offset reached by reading on, an earlier one past them by
// opening the archive again.
struct member_reader {
    std::string archive_path;
    std::string name;
    open_archive opened;
    std::int64_t position = -1;   // -1: not open
    std::vector<unsigned char> head;
    std::vector<unsigned char> skipped;   // what is read on past, to reach a later offset

    std::size_t read(std::int64_t offset, unsigned char* buffer, std::size_t size);

private:
    bool reopen();
    std::size_t read_on(unsigned char* buffer, std::size_t size);
};

// The parts of a plain file (BINARY or WAVE) that is not unpacked read from
// the archive's member name, from its start onward.
decoder_maker member_decoder_maker(const std::string& archive_path, const std::string& name);

// One pass through a 7z archive, shared by the readers of all its members
// that the split reads. A 7z packs its files into one solid block, which
// can only be read from its start: readers that take the members in the
// archive's order, one after another, unpack it once, and nothing of it
// goes to disk. A read behind the pass opens the archive again, save in the
// bytes kept for the reads that come back a little: each member's first 64
// KiB (a WAVE file's chunks), the last 64 KiB read of the member the pass
// is in, and of a member it left, its last 64 KiB read (its rest read on
// first when no more is left: the incomplete sector that ends a BIN).
constexpr std::size_t solid_kept_size = 65536;

struct kept_run {
    std::int64_t first = 0;
    std::vector<unsigned char> bytes;
};

struct solid_stream {
    std::string archive_path;
    std::vector<std::string> order;   // the members read, in the archive's order
    std::mutex lock;                  // guards what follows
    // The pump: a thread that unpacks the member the pass stands in ahead of
    // its readers, so that unpacking overlaps what they do with the bytes.
    // While it reads, the archive is its own.
    std::thread pump;
    std::condition_variable changed;
    std::vector<unsigned char> ahead;   // a ring of what it unpacked, not yet taken
    std::size_t ahead_first = 0;
    std::size_t ahead_count = 0;
    bool pumping = false;        // it may read on in the member
    bool pump_reading = false;   // it is reading
    bool member_ended = false;   // it read the member to its end, or to damage
    bool quit = false;
    open_archive opened;
    std::string member;               // the member the pass stands in
    std::int64_t member_size = 0;
    std::int64_t position = -1;       // its bytes read so far; -1: the pass stands in none
    std::vector<unsigned char> recent = std::vector<unsigned char>(solid_kept_size);   // by offset % its size
    std::map<std::string, std::vector<kept_run>> kept;
    std::vector<unsigned char> skipped = std::vector<unsigned char>(copy_block_size);   // read on past
    std::string damage;   // where the pass met damage, and what: nothing after it is read

    solid_stream() = default;
    solid_stream(const solid_stream&) = delete;
    solid_stream& operator=(const solid_stream&) = delete;
    ~solid_stream();
};

// Up to size bytes of the member name from offset, through the pass.
std::size_t read_solid(solid_stream& stream, const std::string& name, std::int64_t offset, unsigned char* buffer,
                       std::size_t size);

// Where the member name comes in the pass: its place in the archive's order.
std::size_t place_in_pass(const solid_stream& stream, const std::string& name);

// The damage the pass met, if any.
std::string solid_damage(solid_stream& stream);

// The parts of a plain file read from the member name through the shared pass.
decoder_maker solid_decoder_maker(const std::shared_ptr<solid_stream>& stream, const std::string& name);

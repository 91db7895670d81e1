// The bytes of a disc source's files, in file order, for what must see each
// file whole: its CRC32, MD5 and SHA-1 (and, for a restore, the file written
// out). The writers read the virtual BIN track by track, side by side and
// not in BIN order; a reader that has a feed puts what it reads into it, and
// the feed's stream hands the bytes on in order, so every byte of a file is
// read once. What no track reads (the incomplete last sector of a file, the
// sectors before track 1) the stream's filler reads itself.
#pragma once

#include "base/digest.h"
#include "base/ordered_stream.h"
#include "cue/layout.h"
#include "cue/virtual_bin.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct disc_source;

struct feed_file {
    std::string name;         // as the source names it: a FILE line's name
    std::string path;         // where the filler reads it
    std::int64_t size = 0;
    std::int64_t first = 0;   // its first byte in the stream
    // How its bytes from bin_offset on come from its run of the virtual BIN.
    file_form form = file_form::decoded;
    std::int64_t bin_first = 0;
    std::int64_t bin_bytes = 0;
    std::int64_t bin_offset = 0;
    decoder_maker reader;     // how the filler reads it when it is not a file at path
};

// A run of the virtual BIN that is a run of the stream: a plain part's bytes
// are its file's bytes.
struct feed_segment {
    std::int64_t bin_first = 0;
    std::int64_t bytes = 0;
    std::int64_t stream_first = 0;
};

// BIN bytes [bin_first, bin_end) that `owner` will read, which are the
// stream's bytes from stream_first.
struct feed_claim {
    std::size_t owner = 0;
    std::int64_t bin_first = 0;
    std::int64_t bin_end = 0;
    std::int64_t stream_first = 0;
};

struct feed_plan {
    std::vector<feed_file> files;
    std::vector<feed_segment> segments;   // in BIN order
    std::vector<feed_claim> claims;
    std::size_t window = 0;
    stream_filler fill;                   // null: read from the files' paths
    std::vector<stream_consumer> more;    // consumers after the two that hash
    std::int64_t keep_limit = 0;          // the filler keeps each unclaimed run up to this size
    unsigned parts = all_parts;           // the hashes taken (digest_part); others are left zero
};

struct source_feed {
    std::vector<feed_file> files;
    std::vector<std::vector<feed_claim>> claims;   // by owner
    std::vector<file_digest> digests;              // by file, once finished
    std::vector<bool> unreadable;                  // by file: bytes the filler could not read (zeros hashed)
    std::shared_ptr<void> hashers;                 // what the stream's consumers work with
    std::vector<stream_range> kept_ranges;         // unclaimed runs the filler keeps the bytes of
    std::vector<std::string> kept;                 // by kept range
    std::unique_ptr<ordered_stream> stream;        // last: gone, with its threads, before what they use
};

// The BIN bytes [bin_first, bin_end) that the segments give, claimed for owner.
std::vector<feed_claim> claims_for(const std::vector<feed_segment>& segments, std::size_t owner,
                                     std::int64_t bin_first, std::int64_t bin_end);

// The plan for a split: the source's BIN files, each track's bytes claimed
// for its number and those before track 1's INDEX 01 for 0.
feed_plan split_feed_plan(const disc_source& source, const disc_layout& layout, std::size_t window);

// Starts the stream: the hashes on two threads of their own (MD5 on one,
// SHA-1 and CRC32 on the other, as MD5 is the slowest), or one when MD5 is
// not wanted.
std::unique_ptr<source_feed> start_feed(feed_plan plan);

// What a reader read from the BIN at bin_offset, for owner's claims.
void feed_bin_bytes(source_feed& feed, std::size_t owner, std::int64_t bin_offset, const unsigned char* bytes,
                    std::size_t size);
void release_feed_owner(source_feed& feed, std::size_t owner);

// Waits until every byte is taken; the digests are final after it.
void finish_feed(source_feed& feed);

// The stream's bytes [first, end), when the filler kept them all.
bool kept_bytes(const source_feed& feed, std::int64_t first, std::int64_t end, std::string& bytes);

// The BIN that tracks are cut from: the whole 2352-byte sectors of every file
// the sheet names, one after another in sheet order, and after them the
// incomplete last sector of the last file, if it has one.
#pragma once

#include "base/digest.h"
#include "base/file_stream.h"
#include "base/platform.h"
#include "cue/cue_sheet.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct bin_part;

// Bytes a decoder gave as zeros because its source is damaged there (a CHD
// hunk that fails its check, say), and why, in a few words.
struct damaged_bytes {
    std::int64_t first_byte;   // in the part; in the virtual BIN once a reader has taken them
    std::int64_t count;
    std::string why;
};

// A part whose bytes come through a decoder (a FLAC file's samples, a
// CHD's hunks, big-endian audio) rather than straight from a byte range of
// its file. Each reader makes its own, as each writer thread has a reader,
// from the part as it stands then.
class part_decoder {
public:
    virtual ~part_decoder() = default;
    // Up to size bytes from offset in the part; fewer only at its end or
    // where it cannot be read, which ends the input there. Bytes it has but
    // cannot trust are zeros, each stretch added to `damage`.
    virtual std::size_t read(std::int64_t offset, unsigned char* buffer, std::size_t size) = 0;
    std::vector<damaged_bytes> damage;   // since the reader last took them
};
using decoder_maker = std::function<std::unique_ptr<part_decoder>(const bin_part& part)>;

// How a file's bytes come from its run of the virtual BIN: as they stand;
// each pair of bytes swapped (big-endian audio); the 2048 bytes of user
// data of each MODE1 sector; or not from the BIN at all (a FLAC file's).
enum class file_form { as_it_stands, swapped, user_data, decoded };

struct source_feed;   // cue/source_feed.h

struct bin_part {
    std::string path;               // the file its bytes are read from
    std::int64_t first_byte = 0;    // where the part's bytes begin in the virtual BIN
    std::int64_t bytes = 0;         // how many of them it takes
    std::int64_t file_offset = 0;   // where they begin in the file (a WAVE file's data, say)
    decoder_maker decoder;          // empty: a plain byte range of the file
    bool verbatim = false;          // the decoder gives the file's bytes as they stand (an archive's member)
    // Where a decoder of a file's bytes (FLAC, big-endian audio, MODE1 user
    // data) reads them when they are an archive's member, from the member's start;
    // empty: the file at path.
    decoder_maker source;
    // Where the hashes read a FLAC file's bytes when source is one pass
    // through a 7z: a pass of their own, as they read the file whole, apart
    // from the tracks.
    decoder_maker hashed_source;
    bool silence = false;           // no file's bytes: the silence that ends an audio file's last sector
    std::size_t pass_rank = 0;      // in a BIN read in one pass: its file's place in the pass
};

// A part that is a plain byte range of a file.
bin_part file_part(std::string path, std::int64_t first_byte, std::int64_t bytes, std::int64_t file_offset = 0);

struct virtual_bin {
    std::vector<bin_part> parts;
    std::int64_t size_bytes = 0;
    // Its parts are one pass through a solid archive: read in order, one
    // track at a time.
    bool one_reader = false;
};

// The place in the pass of the file that holds byte `at` of a BIN read in one pass.
std::size_t pass_rank_at(const virtual_bin& bin, std::int64_t at);

// The bytes [first, end) of the BIN as one reader reads them, in order: their
// MD5 and CRC32, and whether any of them is not zero. What the reader reads
// out of order, or again, is left out.
struct range_check {
    std::int64_t first = 0;
    std::int64_t end = 0;
    hash_state hash;     // start_hash(hash, md5_part | crc32_part) before the reads
    bool nonzero = false;
};

// One reader of the virtual BIN, with at most one of its parts open. Each
// worker has its own.
struct bin_reader {
    const virtual_bin* bin = nullptr;
    std::size_t part = 0;
    file_stream file;                         // the open file of parts[part], if a plain one
    std::unique_ptr<part_decoder> decoder;    // its decoder, if not
    std::int64_t position = -1;               // the file's position; -1: unknown
    source_feed* feed = nullptr;              // where what it reads goes too, if anywhere
    std::size_t feed_owner = 0;               // whose claims there it reads for
    range_check* check = nullptr;             // the range it checks as it reads, if any
    std::vector<damaged_bytes> damage;        // read as zeros since its owner last cleared it, in order
};

// Reads up to size bytes from offset. Fewer at the end of the BIN, or where a
// part can no longer be opened or read, which ends the input there too. What
// it read goes to the reader's feed as well.
std::size_t read_bin(bin_reader& reader, std::int64_t offset, unsigned char* buffer, std::size_t size);

// Whether any of the size bytes from offset that the BIN has is not zero.
bool holds_nonzero_byte(bin_reader& reader, std::int64_t offset, std::int64_t size);

// Copies size bytes from offset to the end of `to` (an unbuffered stream),
// part by part: a plain part's file range inside the kernel where the
// platform can; buffer is for where it cannot, for decoded parts, and for a
// reader with a feed or a check, whose bytes must pass through the program. Fewer
// bytes where read_bin would read fewer, or up to a failed write, whose
// errno it gives.
byte_copy copy_bin(bin_reader& reader, std::int64_t offset, std::int64_t size, std::FILE* to, unsigned char* buffer,
                   std::size_t buffer_size);

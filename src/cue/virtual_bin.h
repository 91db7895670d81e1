// The BIN that tracks are cut from: the whole 2352-byte sectors of every file
// the sheet names, one after another in sheet order, and after them the
// incomplete last sector of the last file, if it has one.
#pragma once

#include "base/file_stream.h"
#include "base/platform.h"
#include "cue/cue_sheet.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct bin_part {
    std::string path;
    std::int64_t first_byte;   // where the file's bytes begin in the virtual BIN
    std::int64_t bytes;        // how many of them it takes
};

struct virtual_bin {
    std::vector<bin_part> parts;
    std::int64_t size_bytes = 0;
};

// One reader of the virtual BIN, with at most one of its files open. Each
// worker has its own.
struct bin_reader {
    const virtual_bin* bin = nullptr;
    std::size_t part = 0;
    file_stream file;            // the open file of parts[part], if any
    std::int64_t position = -1;  // its file position; -1: unknown
};

// Reads up to size bytes from offset. Fewer at the end of the BIN, or where a
// file can no longer be opened or read, which ends the input there too.
std::size_t read_bin(bin_reader& reader, std::int64_t offset, unsigned char* buffer, std::size_t size);

// Whether any of the size bytes from offset that the BIN has is not zero.
bool holds_nonzero_byte(bin_reader& reader, std::int64_t offset, std::int64_t size);

// Copies size bytes from offset to the end of `to` (an unbuffered stream),
// file by file, inside the kernel where the platform can; buffer is for
// where it cannot. Fewer bytes where read_bin would read fewer, or up to a
// failed write, whose errno it gives.
byte_copy copy_bin(bin_reader& reader, std::int64_t offset, std::int64_t size, std::FILE* to, unsigned char* buffer,
                   std::size_t buffer_size);

// The container of a CHD file ("compressed hunks of data", as chdman writes
// it): its header, its metadata and its hunk map. A CHD keeps a disc as a
// run of hunks of one size, each compressed on its own with one of the up
// to four codecs its header names, so that any hunk can be read without the
// others; the map says where each one is, how it is kept and its CRC-16.
// Every number in the file is big-endian. Version 5 only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// A four-character code as the file keeps it ("cdlz", "CHT2").
constexpr std::uint32_t four_cc(const char (&code)[5])
{
    return std::uint32_t{static_cast<unsigned char>(code[0])} << 24 |
           std::uint32_t{static_cast<unsigned char>(code[1])} << 16 |
           std::uint32_t{static_cast<unsigned char>(code[2])} << 8 | std::uint32_t{static_cast<unsigned char>(code[3])};
}

std::uint64_t big_endian(const unsigned char* bytes, int count);

// CRC-16/CCITT (polynomial 0x1021, initial value 0xFFFF, no reflection):
// each hunk's check, and the map's.
std::uint16_t chd_crc16(const unsigned char* bytes, std::size_t size, std::uint16_t crc = 0xFFFF);

enum class hunk_kind : std::uint8_t {
    compressed,      // `length` bytes at `offset`, in the header's codec number `codec`
    stored,          // the hunk as it is at `offset`
    stored_unchecked,// the same, with no CRC (a CHD kept uncompressed)
    zeros,           // nothing kept: all zeros (a CHD kept uncompressed)
    unreadable,      // a copy of a hunk that is not before it, or of a parent's
};

struct chd_hunk {
    std::uint64_t offset = 0;
    std::uint32_t length = 0;
    std::uint16_t crc = 0;
    hunk_kind kind = hunk_kind::zeros;
    std::uint8_t codec = 0;
};

struct chd_metadata {
    std::uint32_t tag;
    std::string text;   // a track entry's text, to its first NUL; empty for other tags
};

struct chd_header {
    std::uint32_t codecs[4]{};   // four-character codes; 0: none
    std::uint64_t logical_bytes = 0;
    std::uint64_t map_offset = 0;
    std::uint64_t metadata_offset = 0;
    std::uint32_t hunk_bytes = 0;
    std::uint32_t unit_bytes = 0;
    bool has_parent = false;     // it holds only what differs from another CHD
    std::int64_t file_size = 0;
};

// What reading a part of the file came to: an empty problem when it went
// well, else what is wrong, to follow the file's name ("is cut short: ...").
struct chd_problem {
    std::string text;
    explicit operator bool() const { return !text.empty(); }
};

chd_problem read_chd_header(std::FILE* file, chd_header& header);

// The metadata entries in their chain's order.
chd_problem read_chd_metadata(std::FILE* file, const chd_header& header, std::vector<chd_metadata>& entries);

// The map, one entry per hunk; a copy of an earlier hunk is that hunk's
// entry. Checks the map's CRC and that every hunk lies inside the file.
chd_problem read_chd_map(std::FILE* file, const chd_header& header, std::vector<chd_hunk>& hunks);

// Reads exactly size bytes at offset.
bool read_at(std::FILE* file, std::uint64_t offset, unsigned char* bytes, std::size_t size);

// The problem of a read that failed inside the file: the system's reason.
std::string read_failure(const char* what);

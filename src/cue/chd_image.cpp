#include "cue/chd_image.h"

#include "base/platform.h"

#include <array>
#include <cerrno>
#include <cstring>

namespace {

// Version 5's header: the signature, then these fields at these offsets.
constexpr char signature[] = "MComprHD";
constexpr int signature_size = 8;
constexpr int header_size = 124;
constexpr int version_at = 12;
constexpr int codecs_at = 16;
constexpr int logical_bytes_at = 32;
constexpr int map_offset_at = 40;
constexpr int metadata_offset_at = 48;
constexpr int hunk_bytes_at = 56;
constexpr int unit_bytes_at = 60;
constexpr int parent_sha1_at = 104;
constexpr int sha1_size = 20;

// A metadata entry: its tag, a flags byte and a 24-bit length, the offset
// of the next entry (0 after the last), then its data.
constexpr int metadata_entry_header = 16;
constexpr int max_metadata_entries = 4096;
constexpr std::uint32_t max_track_text = 1024;

// CRC-16 tables for eight bytes at a time: [k][x] is the CRC that byte x
// leaves with k zero bytes after it, so a block's CRC is the xor of its
// bytes' entries, the CRC so far folded into its first two bytes.
constexpr int crc16_slices = 8;
using crc16_tables = std::array<std::array<std::uint16_t, 256>, crc16_slices>;
constexpr crc16_tables crc16_table = [] {
    crc16_tables tables{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t r = i << 8;
        for (int bit = 0; bit < 8; ++bit)
            r = (r << 1) ^ ((r & 0x8000U) != 0 ? 0x1021U : 0U);
        tables[0][i] = static_cast<std::uint16_t>(r);
    }
    for (int k = 1; k < crc16_slices; ++k)
        for (std::uint32_t i = 0; i < 256; ++i) {
            const std::uint16_t before = tables[static_cast<std::size_t>(k) - 1][i];
            tables[static_cast<std::size_t>(k)][i] =
                static_cast<std::uint16_t>(before << 8 ^ tables[0][before >> 8]);
        }
    return tables;
}();

bool keeps_text(std::uint32_t tag)
{
    return tag == four_cc("CHT2") || tag == four_cc("CHTR") || tag == four_cc("CHGD");
}

} // namespace

std::uint64_t big_endian(const unsigned char* bytes, int count)
{
    std::uint64_t value = 0;
    for (int i = 0; i < count; ++i)
        value = value << 8 | bytes[i];
    return value;
}

std::uint16_t chd_crc16(const unsigned char* bytes, std::size_t size, std::uint16_t crc)
{
    const auto& t = crc16_table;
    std::size_t i = 0;
    for (; i + crc16_slices <= size; i += crc16_slices) {
        const unsigned char* b = bytes + i;
        crc = static_cast<std::uint16_t>(t[7][(crc >> 8 ^ b[0]) & 0xFFU] ^ t[6][(crc ^ b[1]) & 0xFFU] ^ t[5][b[2]] ^
                                         t[4][b[3]] ^ t[3][b[4]] ^ t[2][b[5]] ^ t[1][b[6]] ^ t[0][b[7]]);
    }
    for (; i < size; ++i)
        crc = static_cast<std::uint16_t>(crc << 8 ^ t[0][(crc >> 8 ^ bytes[i]) & 0xFFU]);
    return crc;
}

bool read_at(std::FILE* file, std::uint64_t offset, unsigned char* bytes, std::size_t size)
{
    errno = 0;   // a short read at the end sets none
    return offset <= static_cast<std::uint64_t>(INT64_MAX) && seek_to(file, static_cast<std::int64_t>(offset)) &&
           std::fread(bytes, 1, size, file) == size;
}

std::string read_failure(const char* what)
{
    const int error = errno;
    return std::string("could not be read: reading ") + what + " failed (" +
           (error != 0 ? std::strerror(error) : "the file ended early") + "); copy it again from where it came";
}

chd_problem read_chd_header(std::FILE* file, chd_header& header)
{
    header.file_size = file_size(file);
    unsigned char bytes[header_size] = {};
    const std::size_t got = seek_to(file, 0) ? std::fread(bytes, 1, sizeof bytes, file) : 0;
    if (got < signature_size || std::memcmp(bytes, signature, signature_size) != 0)
        return {"is not a CHD: it does not begin with \"MComprHD\", as every CHD does (a CUE sheet's name must not "
                "end in .chd)"};
    const auto version = static_cast<std::uint32_t>(big_endian(bytes + version_at, 4));
    if (got >= version_at + 4 && version != 5) {
        if (version >= 1 && version <= 4)
            return {std::string("is a version ") + std::to_string(version) + " CHD, which trackcarve does not read; "
                    "'chdman copy -i OLD.chd -o NEW.chd' rewrites it as version 5"};
        return {std::string("is not a CHD that trackcarve knows: its header says version ") + std::to_string(version)};
    }
    if (got < header_size)
        return {std::string("is cut short: it ends inside its ") + std::to_string(header_size) +
                "-byte header; the file is incomplete: copy or download it again"};
    for (int i = 0; i < 4; ++i)
        header.codecs[i] = static_cast<std::uint32_t>(big_endian(bytes + codecs_at + 4 * i, 4));
    header.logical_bytes = big_endian(bytes + logical_bytes_at, 8);
    header.map_offset = big_endian(bytes + map_offset_at, 8);
    header.metadata_offset = big_endian(bytes + metadata_offset_at, 8);
    header.hunk_bytes = static_cast<std::uint32_t>(big_endian(bytes + hunk_bytes_at, 4));
    header.unit_bytes = static_cast<std::uint32_t>(big_endian(bytes + unit_bytes_at, 4));
    for (int i = 0; i < sha1_size; ++i)
        header.has_parent = header.has_parent || bytes[parent_sha1_at + i] != 0;
    return {};
}

chd_problem read_chd_metadata(std::FILE* file, const chd_header& header, std::vector<chd_metadata>& entries)
{
    const auto size = static_cast<std::uint64_t>(header.file_size);
    for (std::uint64_t at = header.metadata_offset; at != 0;) {
        if (entries.size() == max_metadata_entries)
            return {"is damaged: its chain of metadata entries does not end"};
        unsigned char head[metadata_entry_header];
        if (at > size || size - at < metadata_entry_header || !read_at(file, at, head, sizeof head))
            return {"is damaged or cut short: its metadata lies past its end; copy or download the file again"};
        chd_metadata entry{static_cast<std::uint32_t>(big_endian(head, 4)), {}};
        const auto length = static_cast<std::uint32_t>(big_endian(head + 5, 3));
        if (size - at - metadata_entry_header < length)
            return {"is damaged or cut short: its metadata lies past its end; copy or download the file again"};
        if (keeps_text(entry.tag)) {
            if (length > max_track_text)
                return {std::string("is damaged: a track entry of its metadata is ") + std::to_string(length) +
                        " bytes long"};
            entry.text.resize(length);
            if (!read_at(file, at + metadata_entry_header, reinterpret_cast<unsigned char*>(entry.text.data()),
                         length))
                return {read_failure("its metadata")};
            entry.text.resize(std::strlen(entry.text.c_str()));
        }
        entries.push_back(std::move(entry));
        at = big_endian(head + 8, 8);
    }
    return {};
}

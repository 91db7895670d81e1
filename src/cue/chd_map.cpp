// The hunk map of a version 5 CHD. Kept compressed, it is a 16-byte head
// (the packed map's length, where the first hunk lies, the CRC-16 of the
// unpacked map, and how many bits the lengths and references take), then a
// bit stream, most significant bit first: each hunk's kind, coded with a
// small canonical Huffman code and run lengths, then per hunk its length
// and CRC, or the hunk it copies. A compressed hunk's offset is where the
// one before it ended. Kept uncompressed, the map is one 32-bit hunk number
// per hunk: its offset in hunk_bytes units, 0 for a hunk of zeros.
#include "cue/chd_image.h"

#include <algorithm>

namespace {

constexpr int map_head_size = 16;
constexpr int kind_codes = 16;           // the Huffman code's symbols
constexpr int kind_code_max_bits = 8;
constexpr int kind_length_bits = 4;      // each symbol's code length, as the tree is stored

// A hunk's kind in the map; the codes from 7 up exist only in the stream.
enum map_kind : std::uint8_t {
    codec_3 = 3, none = 4, self = 5, parent = 6,
    rle_small = 7, rle_large = 8, self_0 = 9, self_1 = 10, parent_self = 11, parent_0 = 12, parent_1 = 13,
};

struct bit_reader {
    const std::vector<unsigned char>& bytes;
    std::uint64_t position = 0;   // in bits
    bool overran = false;         // a read went past the end; it read zeros there

    std::uint32_t peek(int count) const
    {
        std::uint32_t value = 0;
        for (int i = 0; i < count; ++i) {
            const std::uint64_t at = position + static_cast<std::uint64_t>(i);
            const auto byte = static_cast<std::size_t>(at / 8);
            const unsigned bit = at / 8 < bytes.size() ? bytes[byte] >> (7 - at % 8) & 1U : 0U;
            value = value << 1 | bit;
        }
        return value;
    }
    void skip(int count)
    {
        position += static_cast<std::uint64_t>(count);
        overran = overran || position > bytes.size() * 8;
    }
    std::uint32_t read(int count)
    {
        const std::uint32_t value = peek(count);
        skip(count);
        return value;
    }
};

// The map's code for hunk kinds: each of 16 symbols' code length, stored
// with a run-length escape; codes assigned canonically, the longest first.
struct kind_code {
    std::uint8_t lookup[1 << kind_code_max_bits];   // by the next 8 bits: symbol << 4 | code length; 0: no code
};

bool read_kind_code(bit_reader& bits, kind_code& code)
{
    std::uint8_t lengths[kind_codes] = {};
    for (int symbol = 0; symbol < kind_codes;) {
        std::uint32_t length = bits.read(kind_length_bits);
        int repeat = 1;
        // 1 is the escape: 1 1 is a length of 1, 1 L N is N + 3 of length L.
        if (length == 1) {
            length = bits.read(kind_length_bits);
            if (length != 1)
                repeat = static_cast<int>(bits.read(kind_length_bits)) + 3;
        }
        if (length > kind_code_max_bits || symbol + repeat > kind_codes)
            return false;
        std::fill_n(lengths + symbol, repeat, static_cast<std::uint8_t>(length));
        symbol += repeat;
    }
    std::uint32_t first_code[kind_code_max_bits + 1] = {};
    std::uint32_t next = 0;
    for (int length = kind_code_max_bits; length > 0; --length) {
        const auto count = static_cast<std::uint32_t>(std::count(lengths, lengths + kind_codes, length));
        if (length != 1 && (next + count) % 2 != 0)
            return false;
        first_code[length] = next;
        next = (next + count) >> 1;
    }
    std::fill(std::begin(code.lookup), std::end(code.lookup), std::uint8_t{0});
    for (int symbol = 0; symbol < kind_codes; ++symbol) {
        const int length = lengths[symbol];
        if (length == 0)
            continue;
        const std::uint32_t shift = kind_code_max_bits - static_cast<std::uint32_t>(length);
        const std::uint32_t first = first_code[length]++ << shift;
        if (first + (1U << shift) > sizeof code.lookup)
            return false;
        std::fill_n(code.lookup + first, 1U << shift, static_cast<std::uint8_t>(symbol << 4 | length));
    }
    return !bits.overran;
}

// The next symbol; false where no code matches.
bool read_kind(bit_reader& bits, const kind_code& code, std::uint8_t& symbol)
{
    const std::uint8_t entry = code.lookup[bits.peek(kind_code_max_bits)];
    if ((entry & 0xFU) == 0)
        return false;
    bits.skip(entry & 0xF);
    symbol = static_cast<std::uint8_t>(entry >> 4);
    return true;
}

// Each hunk's kind, the runs unrolled.
bool read_kinds(bit_reader& bits, std::vector<std::uint8_t>& kinds)
{
    kind_code code{};
    if (!read_kind_code(bits, code))
        return false;
    std::uint8_t last = 0;
    for (std::size_t hunk = 0; hunk < kinds.size();) {
        std::uint8_t symbol = 0;
        if (!read_kind(bits, code, symbol))
            return false;
        std::size_t run = 1;
        if (symbol == rle_small || symbol == rle_large) {
            std::uint8_t count = 0;
            std::uint8_t low = 0;
            if (!read_kind(bits, code, count) || (symbol == rle_large && !read_kind(bits, code, low)))
                return false;
            // The run's own hunk, then 2 + N more (N + 16 in two symbols for a long run).
            run = 1U + 2U + (symbol == rle_small ? count : 16U + (std::size_t{count} << 4) + low);
        } else {
            last = symbol;
        }
        std::fill_n(kinds.begin() + static_cast<std::ptrdiff_t>(hunk), std::min(run, kinds.size() - hunk), last);
        hunk += run;
    }
    return !bits.overran;
}

// The map as it unpacks, 12 bytes a hunk (kind, 24-bit length, 48-bit
// offset, CRC), fed to the CRC that its head gives.
void add_to_map_crc(std::uint16_t& crc, std::uint8_t kind, std::uint32_t length, std::uint64_t offset,
                    std::uint16_t hunk_crc)
{
    unsigned char entry[12] = {kind};
    for (int i = 0; i < 3; ++i)
        entry[1 + i] = static_cast<unsigned char>(length >> (16 - 8 * i));
    for (int i = 0; i < 6; ++i)
        entry[4 + i] = static_cast<unsigned char>(offset >> (40 - 8 * i));
    entry[10] = static_cast<unsigned char>(hunk_crc >> 8);
    entry[11] = static_cast<unsigned char>(hunk_crc);
    crc = chd_crc16(entry, sizeof entry, crc);
}

const char damaged_map[] = "is damaged: its hunk map does not decode";

chd_problem read_packed_map(std::FILE* file, const chd_header& header, std::vector<chd_hunk>& hunks)
{
    unsigned char head[map_head_size];
    const auto file_bytes = static_cast<std::uint64_t>(header.file_size);
    if (header.map_offset > file_bytes || file_bytes - header.map_offset < map_head_size ||
        !read_at(file, header.map_offset, head, sizeof head))
        return {"is cut short: its hunk map lies past its end; the file is incomplete: copy or download it again"};
    const std::uint64_t packed_size = big_endian(head, 4);
    std::uint64_t offset = big_endian(head + 4, 6);
    const auto map_crc = static_cast<std::uint16_t>(big_endian(head + 10, 2));
    const int length_bits = head[12];
    const int self_bits = head[13];
    if (file_bytes - header.map_offset - map_head_size < packed_size)
        return {"is cut short: its hunk map runs past its end; the file is incomplete: copy or download it again"};
    if (length_bits > 32 || self_bits > 32)
        return {damaged_map};
    std::vector<unsigned char> packed(static_cast<std::size_t>(packed_size));   // a 32-bit length
    if (!read_at(file, header.map_offset + map_head_size, packed.data(), packed.size()))
        return {read_failure("its hunk map")};

    bit_reader bits{packed};
    std::vector<std::uint8_t> kinds(hunks.size());
    if (!read_kinds(bits, kinds))
        return {damaged_map};
    std::uint16_t crc = 0xFFFF;
    std::uint64_t last_self = 0;
    for (std::size_t number = 0; number < hunks.size(); ++number) {
        chd_hunk& hunk = hunks[number];
        std::uint8_t kind = kinds[number];
        std::uint32_t length = 0;
        std::uint64_t at = offset;
        std::uint16_t hunk_crc = 0;
        if (kind <= codec_3 || kind == none) {
            length = kind == none ? header.hunk_bytes : bits.read(length_bits);
            hunk_crc = static_cast<std::uint16_t>(bits.read(16));
            offset += length;
            hunk = {at, length, hunk_crc, kind == none ? hunk_kind::stored : hunk_kind::compressed, kind};
        } else if (kind == self || kind == self_0 || kind == self_1) {
            at = kind == self ? bits.read(self_bits) : last_self + (kind == self_1 ? 1 : 0);
            last_self = at;
            kind = self;
            // A copy is of a hunk before it, whose entry it takes.
            hunk = at < number ? hunks[static_cast<std::size_t>(at)] : chd_hunk{0, 0, 0, hunk_kind::unreadable, 0};
        } else if (kind == parent || kind == parent_self || kind == parent_0 || kind == parent_1) {
            // A CHD that names no parent has no parent's hunks to copy.
            return {std::string("is damaged: its hunk ") + std::to_string(number) +
                    " copies a parent CHD's, and it names none"};
        } else {
            return {damaged_map};
        }
        add_to_map_crc(crc, kind, length, at, hunk_crc);
    }
    if (bits.overran || crc != map_crc)
        return {damaged_map};
    return {};
}

chd_problem read_plain_map(std::FILE* file, const chd_header& header, std::vector<chd_hunk>& hunks)
{
    std::vector<unsigned char> entries(hunks.size() * 4);
    const auto file_bytes = static_cast<std::uint64_t>(header.file_size);
    if (header.map_offset > file_bytes || file_bytes - header.map_offset < entries.size() ||
        !read_at(file, header.map_offset, entries.data(), entries.size()))
        return {"is cut short: its hunk map lies past its end; the file is incomplete: copy or download it again"};
    for (std::size_t number = 0; number < hunks.size(); ++number) {
        const std::uint64_t at = big_endian(entries.data() + 4 * number, 4) * header.hunk_bytes;
        hunks[number] = at == 0 ? chd_hunk{} : chd_hunk{at, header.hunk_bytes, 0, hunk_kind::stored_unchecked, 0};
    }
    return {};
}

} // namespace

chd_problem read_chd_map(std::FILE* file, const chd_header& header, std::vector<chd_hunk>& hunks)
{
    if (header.hunk_bytes == 0)
        return {damaged_map};
    hunks.assign(static_cast<std::size_t>((header.logical_bytes + header.hunk_bytes - 1) / header.hunk_bytes), {});
    const chd_problem problem =
        header.codecs[0] != 0 ? read_packed_map(file, header, hunks) : read_plain_map(file, header, hunks);
    if (problem)
        return problem;
    const auto file_bytes = static_cast<std::uint64_t>(header.file_size);
    for (std::size_t number = 0; number < hunks.size(); ++number) {
        const chd_hunk& hunk = hunks[number];
        if (hunk.kind == hunk_kind::compressed && (header.codecs[hunk.codec] == 0 || hunk.length > header.hunk_bytes))
            return {std::string("is damaged: its hunk ") + std::to_string(number) +
                    " is not as its header says hunks are"};
        const bool kept = hunk.kind == hunk_kind::compressed || hunk.kind == hunk_kind::stored ||
                          hunk.kind == hunk_kind::stored_unchecked;
        if (kept && (hunk.offset > file_bytes || file_bytes - hunk.offset < hunk.length))
            return {std::string("is cut short: its hunk ") + std::to_string(number) + " lies past its end (it has " +
                    std::to_string(file_bytes) + " bytes); the file is incomplete: copy or download it again"};
    }
    return {};
}

#include "cue/sector_codes.h"

#include <array>
#include <cstring>

namespace {

constexpr int sector_size = 2352;

// CD-ROM EDC: CRC-32 over x^32+x^31+x^16+x^15+x^4+x^3+x+1, bits taken LSB
// first (hence the reflected constant), no initial or final xor.
constexpr std::array<std::uint32_t, 256> edc_table = [] {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t r = i;
        for (int bit = 0; bit < 8; ++bit)
            r = (r >> 1) ^ ((r & 1U) != 0 ? 0xD8018001U : 0U);
        table[i] = r;
    }
    return table;
}();

std::uint32_t edc(const unsigned char* data, std::size_t size)
{
    std::uint32_t crc = 0;
    for (std::size_t i = 0; i < size; ++i)
        crc = (crc >> 8) ^ edc_table[(crc ^ data[i]) & 0xFFU];
    return crc;
}

void store_edc(unsigned char* out, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<unsigned char>(value >> (8 * i));
}

// GF(2^8) modulo x^8+x^4+x^3+x^2+1: times alpha (x), and the inverse of
// times (1 + alpha), as tables.
struct gf_tables {
    std::array<unsigned char, 256> times_alpha{};
    std::array<unsigned char, 256> over_one_plus_alpha{};
};

constexpr gf_tables gf = [] {
    gf_tables t{};
    for (unsigned i = 0; i < 256; ++i) {
        const unsigned doubled = (i << 1) ^ ((i & 0x80U) != 0 ? 0x11DU : 0U);
        t.times_alpha[i] = static_cast<unsigned char>(doubled);
        t.over_one_plus_alpha[i ^ doubled] = static_cast<unsigned char>(i);
    }
    return t;
}();

// The Reed-Solomon product code over bytes 12 to 2075 (header, data, EDC),
// seen as 1032 16-bit words in two byte planes: P codewords are the 43
// columns of 24 words, Q codewords the 26 diagonals of 43 words over the
// data and P. Each byte stream here walks one plane's codeword: `majors`
// codewords (both planes, interleaved), `minors` symbols each, stepping
// `step` bytes through a block of `majors * minors` bytes.
void encode_parity(unsigned char* sector, int majors, int minors, int major_step, int step, int parity_at)
{
    const unsigned char* block = sector + 12;
    const int size = majors * minors;
    unsigned char* parity = sector + parity_at;
    for (int major = 0; major < majors; ++major) {
        int at = (major >> 1) * major_step + (major & 1);
        unsigned char a = 0;
        unsigned char b = 0;
        for (int minor = 0; minor < minors; ++minor) {
            const unsigned char symbol = block[at];
            at += step;
            if (at >= size)
                at -= size;
            a = gf.times_alpha[a ^ symbol];
            b ^= symbol;
        }
        a = gf.over_one_plus_alpha[gf.times_alpha[a] ^ b];
        parity[major] = a;
        parity[major + majors] = static_cast<unsigned char>(a ^ b);
    }
}

void encode_ecc(unsigned char* sector)
{
    encode_parity(sector, 86, 24, 2, 86, 2076);    // P
    encode_parity(sector, 52, 43, 86, 88, 2248);   // Q, over the data and P
}

// File 0, channel 0, submode "data", coding 0, given twice.
constexpr unsigned char plain_data_subheader[8] = {0, 0, 0x08, 0, 0, 0, 0x08, 0};

void write_sync(unsigned char* sector)
{
    sector[0] = 0x00;
    std::memset(sector + 1, 0xFF, 10);
    sector[11] = 0x00;
}

// Mode 2 leaves the header out of the ECC: it is coded as if it were zero.
void encode_ecc_of_mode(unsigned char* sector)
{
    if (sector[15] != 2) {
        encode_ecc(sector);
        return;
    }
    unsigned char header[4];
    std::memcpy(header, sector + 12, 4);
    std::memset(sector + 12, 0, 4);
    encode_ecc(sector);
    std::memcpy(sector + 12, header, 4);
}

unsigned char bcd(int value) { return static_cast<unsigned char>((value / 10) * 16 + value % 10); }

} // namespace

void write_sector_header(unsigned char* sector, std::int32_t lba, unsigned char mode)
{
    write_sync(sector);
    const std::int32_t address = lba + sector_lba_offset;
    sector[12] = bcd(address / 4500);
    sector[13] = bcd(address / 75 % 60);
    sector[14] = bcd(address % 75);
    sector[15] = mode;
}

void encode_mode1_sector(unsigned char* sector, std::int32_t lba)
{
    write_sector_header(sector, lba, 1);
    store_edc(sector + 2064, edc(sector, 2064));
    std::memset(sector + 2068, 0, 8);
    encode_ecc(sector);
}

void encode_mode2_form1_sector(unsigned char* sector, std::int32_t lba)
{
    write_sector_header(sector, lba, 2);
    store_edc(sector + 2072, edc(sector + 16, 2056));
    encode_ecc_of_mode(sector);
}

void restore_sync_and_ecc(unsigned char* sector)
{
    write_sync(sector);
    encode_ecc_of_mode(sector);
}

bool is_regenerable_mode1_sector(const unsigned char* sector, std::int32_t lba)
{
    unsigned char regenerated[sector_size];
    std::memcpy(regenerated + 16, sector + 16, 2048);
    encode_mode1_sector(regenerated, lba);
    return std::memcmp(regenerated, sector, sector_size) == 0;
}

bool is_regenerable_mode2_form1_sector(const unsigned char* sector, std::int32_t lba)
{
    unsigned char regenerated[sector_size];
    regenerate_sector(regenerated, sector + 24, lba, true);
    return std::memcmp(regenerated, sector, sector_size) == 0;
}

void regenerate_sector(unsigned char* sector, const unsigned char* user_data, std::int32_t lba, bool mode2)
{
    if (!mode2) {
        std::memcpy(sector + 16, user_data, 2048);
        encode_mode1_sector(sector, lba);
        return;
    }
    std::memcpy(sector + 16, plain_data_subheader, sizeof plain_data_subheader);
    std::memcpy(sector + 24, user_data, 2048);
    encode_mode2_form1_sector(sector, lba);
}

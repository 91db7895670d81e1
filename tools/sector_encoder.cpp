#include "sector_encoder.h"

#include <array>
#include <cstring>
#include <utility>

namespace {

// CD-ROM EDC: CRC-32 over x^32+x^31+x^16+x^15+x^4+x^3+x+1, bits taken LSB
// first (hence the reflected constant), no initial or final xor.
std::uint32_t edc(const std::uint8_t* data, std::size_t size)
{
    static const auto table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t r = i;
            for (int bit = 0; bit < 8; ++bit)
                r = (r >> 1) ^ ((r & 1U) ? 0xD8018001U : 0U);
            t[i] = r;
        }
        return t;
    }();
    std::uint32_t crc = 0;
    for (std::size_t i = 0; i < size; ++i)
        crc = (crc >> 8) ^ table[(crc ^ data[i]) & 0xFFU];
    return crc;
}

void store_le32(std::uint8_t* out, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// GF(2^8) product modulo x^8+x^4+x^3+x^2+1 (0x11D), by shift and add.
std::uint8_t gf_mul(unsigned a, unsigned b)
{
    unsigned product = 0;
    for (; b != 0; b >>= 1) {
        if (b & 1U)
            product ^= a;
        a <<= 1;
        if (a & 0x100U)
            a ^= 0x11DU;
    }
    return static_cast<std::uint8_t>(product);
}

// 1 / (1 + alpha), where alpha = x = 2; found once by search.
std::uint8_t inverse_of_3()
{
    static const std::uint8_t inverse = [] {
        unsigned x = 1;
        while (gf_mul(3, x) != 1)
            ++x;
        return static_cast<std::uint8_t>(x);
    }();
    return inverse;
}

// The ECC sees bytes 12..2351 as 1170 16-bit words split into two byte
// planes coded independently. P codewords are the 43 columns of 24 words
// (plus 2 parity words); Q codewords are the 26 diagonals of 43 words over
// data and P parity (plus 2 parity words).
struct parity_code {
    std::size_t vectors;
    std::size_t length;   // including the two parity symbols
    std::size_t (*word)(std::size_t vector, std::size_t element);
};

std::size_t p_word(std::size_t n, std::size_t m) { return 43 * m + n; }

std::size_t q_word(std::size_t n, std::size_t m)
{
    return m < 43 ? (44 * m + 43 * n) % 1118 : 1118 + 26 * (m - 43) + n;
}

constexpr parity_code p_code{43, 26, p_word};
constexpr parity_code q_code{26, 45, q_word};

std::size_t ecc_offset(int plane, std::size_t word) { return 12 + 2 * word + static_cast<std::size_t>(plane); }

// Plain and alpha-weighted (Horner) sums of the first `count` symbols of codeword n.
std::pair<unsigned, unsigned> codeword_sums(const std::uint8_t* sector, const parity_code& code, int plane,
                                            std::size_t n, std::size_t count)
{
    unsigned sum = 0, weighted = 0;
    for (std::size_t m = 0; m < count; ++m) {
        const unsigned v = sector[ecc_offset(plane, code.word(n, m))];
        sum ^= v;
        weighted = gf_mul(weighted, 2) ^ v;
    }
    return {sum, weighted};
}

// Parity symbols p0, p1 make sum(v_i) = 0 and sum(alpha^(len-1-i) v_i) = 0.
void encode_parity(std::uint8_t* sector, const parity_code& code)
{
    const std::size_t data_len = code.length - 2;
    for (int plane = 0; plane < 2; ++plane) {
        for (std::size_t n = 0; n < code.vectors; ++n) {
            const auto [sum, weighted] = codeword_sums(sector, code, plane, n, data_len);
            // alpha^2 shifts the data weights past the two parity places.
            const std::uint8_t p0 = gf_mul(gf_mul(weighted, 4) ^ sum, inverse_of_3());
            sector[ecc_offset(plane, code.word(n, data_len))] = p0;
            sector[ecc_offset(plane, code.word(n, data_len + 1))] = static_cast<std::uint8_t>(p0 ^ sum);
        }
    }
}

bool syndromes_zero(const std::uint8_t* sector, const parity_code& code)
{
    for (int plane = 0; plane < 2; ++plane) {
        for (std::size_t n = 0; n < code.vectors; ++n) {
            const auto [s0, s1] = codeword_sums(sector, code, plane, n, code.length);
            if (s0 != 0 || s1 != 0)
                return false;
        }
    }
    return true;
}

// Mode 2 leaves the header out of the ECC: it is coded as if it were zero.
void encode_ecc(std::uint8_t* sector, bool zero_header)
{
    std::array<std::uint8_t, 4> header{};
    std::memcpy(header.data(), sector + 12, 4);
    if (zero_header)
        std::memset(sector + 12, 0, 4);
    encode_parity(sector, p_code);
    encode_parity(sector, q_code);
    std::memcpy(sector + 12, header.data(), 4);
}

// Cheap self-check of every sector written: the EDC residue of the
// protected bytes plus their EDC is zero, and so are all ECC syndromes.
void check_sector(const std::uint8_t* sector, bool mode2)
{
    const bool edc_ok = mode2 ? edc(sector + 16, 2060) == 0 : edc(sector, 2068) == 0;
    std::array<std::uint8_t, raw_sector_size> copy{};
    std::memcpy(copy.data(), sector, raw_sector_size);
    if (mode2)
        std::memset(copy.data() + 12, 0, 4);
    if (!edc_ok || !syndromes_zero(copy.data(), p_code) || !syndromes_zero(copy.data(), q_code))
        fail("internal error: sector failed its EDC/ECC check");
}

std::uint8_t bcd(int value) { return static_cast<std::uint8_t>((value / 10) * 16 + value % 10); }

void write_sync_and_header(std::uint8_t* sector, int lba, std::uint8_t mode)
{
    sector[0] = 0x00;
    std::memset(sector + 1, 0xFF, 10);
    sector[11] = 0x00;
    const int address = lba + lead_in_sectors;
    sector[12] = bcd(address / 4500);
    sector[13] = bcd(address / 75 % 60);
    sector[14] = bcd(address % 75);
    sector[15] = mode;
}

void encode_mode1(std::uint8_t* sector, int lba, const std::uint8_t* block)
{
    write_sync_and_header(sector, lba, 1);
    std::memcpy(sector + 16, block, block_size);
    store_le32(sector + 2064, edc(sector, 2064));
    std::memset(sector + 2068, 0, 8);
    encode_ecc(sector, false);
}

// XA Form 1: file 0, channel 0, submode "data"; the last sector also ends
// the record and the file.
void encode_mode2_form1(std::uint8_t* sector, int lba, const std::uint8_t* block, bool last)
{
    write_sync_and_header(sector, lba, 2);
    const std::uint8_t submode = last ? 0x89 : 0x08;
    const std::array<std::uint8_t, 4> subheader{0, 0, submode, 0};
    std::memcpy(sector + 16, subheader.data(), 4);
    std::memcpy(sector + 20, subheader.data(), 4);
    std::memcpy(sector + 24, block, block_size);
    store_le32(sector + 2072, edc(sector + 16, 2056));
    encode_ecc(sector, true);
}

} // namespace

byte_vector encode_data_track(const byte_vector& image, bool mode2)
{
    const std::size_t blocks = image.size() / block_size;
    byte_vector track(blocks * raw_sector_size);
    for (std::size_t i = 0; i < blocks; ++i) {
        std::uint8_t* sector = track.data() + i * raw_sector_size;
        const std::uint8_t* block = image.data() + i * block_size;
        const int lba = static_cast<int>(i);
        if (mode2)
            encode_mode2_form1(sector, lba, block, i + 1 == blocks);
        else
            encode_mode1(sector, lba, block);
        check_sector(sector, mode2);
    }
    return track;
}

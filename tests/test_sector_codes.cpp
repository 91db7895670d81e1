// Regenerated sectors checked by the code's own definition, computed the
// slow way: the EDC residue is zero, and so is every P and Q syndrome, in
// GF(2^8) by shift and add rather than by the tables the encoder uses.
#include "cue/sector_codes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <random>

namespace {

using sector = std::array<unsigned char, 2352>;

std::uint32_t edc_residue(const unsigned char* data, std::size_t size)
{
    std::uint32_t crc = 0;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ ((crc & 1U) != 0 ? 0xD8018001U : 0U);
    }
    return crc;
}

unsigned gf_times(unsigned a, unsigned b)
{
    unsigned product = 0;
    for (; b != 0; b >>= 1, a = (a << 1) ^ ((a & 0x80U) != 0 ? 0x11DU : 0U))
        product ^= (b & 1U) != 0 ? a : 0U;
    return product & 0xFFU;
}

// Every codeword's plain and alpha-weighted sums over bytes 12 on (a mode 2
// header taken as zero): P the 43 columns of 26 words, Q the 26 diagonals
// of 45 words, in both byte planes.
bool syndromes_zero(sector s, bool mode2)
{
    if (mode2)
        std::fill(s.begin() + 12, s.begin() + 16, 0);
    const auto word_p = [](std::size_t n, std::size_t m) { return 43 * m + n; };
    const auto word_q = [](std::size_t n, std::size_t m) {
        return m < 43 ? (44 * m + 43 * n) % 1118 : 1118 + 26 * (m - 43) + n;
    };
    const auto zero = [&](std::size_t vectors, std::size_t length, auto word) {
        for (std::size_t plane = 0; plane < 2; ++plane)
            for (std::size_t n = 0; n < vectors; ++n) {
                unsigned sum = 0, weighted = 0;
                for (std::size_t m = 0; m < length; ++m) {
                    const unsigned v = s[12 + 2 * word(n, m) + plane];
                    sum ^= v;
                    weighted = gf_times(weighted, 2) ^ v;
                }
                if (sum != 0 || weighted != 0)
                    return false;
            }
        return true;
    };
    return zero(43, 26, word_p) && zero(26, 45, word_q);
}

} // namespace

TEST(SectorCodes, RegeneratedSectorsHoldTheirCodesAndAnyChangedByteShows)
{
    std::mt19937 random(7);
    for (const bool mode2 : {false, true}) {
        for (const std::int32_t lba : {0, 16, 449'999}) {
            sector s{};
            for (std::size_t i = 16; i < 2072; ++i)
                s[i] = static_cast<unsigned char>(random());
            if (mode2)
                encode_mode2_form1_sector(s.data(), lba);
            else
                encode_mode1_sector(s.data(), lba);
            EXPECT_EQ(mode2 ? edc_residue(s.data() + 16, 2060) : edc_residue(s.data(), 2068), 0u) << lba;
            EXPECT_TRUE(syndromes_zero(s, mode2)) << mode2 << " " << lba;
            if (mode2)
                continue;
            EXPECT_TRUE(is_regenerable_mode1_sector(s.data(), lba));
            EXPECT_FALSE(is_regenerable_mode1_sector(s.data(), lba + 1));
            for (const std::size_t at : {std::size_t{0}, std::size_t{15}, std::size_t{2067}, std::size_t{2070},
                                         std::size_t{2351}}) {
                sector changed = s;
                changed[at] ^= 1;
                EXPECT_FALSE(is_regenerable_mode1_sector(changed.data(), lba)) << "byte " << at;
            }
        }
    }
}

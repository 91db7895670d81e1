#include "sector_encoder.h"

#include "cue/sector_codes.h"

#include <array>
#include <cstring>

byte_vector encode_data_track(const byte_vector& image, bool mode2)
{
    const std::size_t blocks = image.size() / block_size;
    byte_vector track(blocks * raw_sector_size);
    for (std::size_t i = 0; i < blocks; ++i) {
        std::uint8_t* sector = track.data() + i * raw_sector_size;
        const std::uint8_t* block = image.data() + i * block_size;
        const auto lba = static_cast<std::int32_t>(i);
        if (!mode2) {
            std::memcpy(sector + 16, block, block_size);
            encode_mode1_sector(sector, lba);
            continue;
        }
        // XA Form 1: file 0, channel 0, submode "data"; the last sector also
        // ends the record and the file.
        const std::uint8_t submode = i + 1 == blocks ? 0x89 : 0x08;
        const std::array<std::uint8_t, 4> subheader{0, 0, submode, 0};
        std::memcpy(sector + 16, subheader.data(), 4);
        std::memcpy(sector + 20, subheader.data(), 4);
        std::memcpy(sector + 24, block, block_size);
        encode_mode2_form1_sector(sector, lba);
    }
    return track;
}

// Raw CD-ROM data sectors as a drive reads them: the sync pattern and the
// header around the user data, and its EDC and ECC, regenerated from the
// user data and the sector's address. For checking that a sector is just
// what its user data gives (and may be kept as 2048 bytes), and for making
// raw sectors from 2048-byte ones.
#pragma once

#include <cstdint>

inline constexpr int sector_lba_offset = 150;   // the header's address of LBA 0 is 00:02:00

// Fills sync and header (mode byte `mode`) for the sector at lba.
void write_sector_header(unsigned char* sector, std::int32_t lba, unsigned char mode);

// A MODE1 sector from its user data, bytes 16 to 2063, which stay: sync,
// header, EDC, the 8 zero bytes and ECC P and Q.
void encode_mode1_sector(unsigned char* sector, std::int32_t lba);

// An XA Form 1 sector from its subheader and user data, bytes 16 to 2071,
// which stay: sync, header (mode 2), EDC and ECC.
void encode_mode2_form1_sector(unsigned char* sector, std::int32_t lba);

// The sync pattern and ECC P and Q of a sector whose header, data and EDC
// stand (as a compressor that dropped what they give keeps it), coded over
// bytes 12 to 2075, the header as zeros when the mode byte is 2.
void restore_sync_and_ecc(unsigned char* sector);

// The sector is exactly the MODE1 sector its user data and lba give.
bool is_regenerable_mode1_sector(const unsigned char* sector, std::int32_t lba);

// The sector is exactly the XA Form 1 sector its user data and lba give
// with the plain data subheader (file 0, channel 0, submode data): what a
// .iso keeps of it, bytes 24 to 2071, gives it back whole.
bool is_regenerable_mode2_form1_sector(const unsigned char* sector, std::int32_t lba);

// The raw sector at lba from its 2048 bytes of user data: MODE1, or XA
// Form 1 with the plain data subheader.
void regenerate_sector(unsigned char* sector, const unsigned char* user_data, std::int32_t lba, bool mode2);

// Sectors first to first + count - 1 of a track.
struct sector_run {
    std::int64_t first = 0;
    std::int64_t count = 0;
};

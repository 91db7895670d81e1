// The sectors of a CD CHD as the virtual BIN has them: each track's frames
// one after another without the padding, 2352 bytes a sector, audio
// little-endian, MODE1 and MODE2 sectors kept without their sync and
// header made whole again. Each reader opens the file for itself and keeps
// its last two hunks decoded, so memory stays the same however long the
// disc. A hunk that cannot be read or fails its CRC gives zeros, reported.
#pragma once

#include "cue/chd_image.h"
#include "cue/chd_tracks.h"
#include "cue/virtual_bin.h"

#include <memory>
#include <string>
#include <vector>

// What every reader of one CHD shares, read once when the source is read.
struct chd_disc {
    std::string path;
    chd_header header;
    std::vector<chd_hunk> hunks;
    std::vector<chd_track> tracks;
    std::int64_t bin_sectors = 0;
    std::uint32_t largest_hunk = 0;   // the most bytes a hunk takes in the file
};

// A reader of the disc through its own handle on the file; null when the
// file can no longer be opened.
std::unique_ptr<part_decoder> open_chd_reader(const std::shared_ptr<const chd_disc>& disc);

// Writes one track of the BIN to its own file: trackN.iso or trackN.ogg.
#pragma once

#include "base/console.h"
#include "cue/layout.h"
#include "cue/virtual_bin.h"
#include "extract/audio_encoder.h"
#include "extract/output_file.h"

#include <cstdint>

inline constexpr int user_data_size = 2048;
inline constexpr int sectors_per_read = 256;   // one read and one write per 256 sectors

// A writer's working memory, reused from track to track. Fixed-size, so
// memory use does not grow with the track; page-aligned, so the kernel
// copies whole pages in and out of it.
struct track_buffer {
    alignas(4096) unsigned char sectors[sectors_per_read * raw_sector_size];
    unsigned char audio[audio_read_size];
};

struct track_outcome {
    bool written;    // the file is in place under its final name
    bool complete;   // and holds every sector of the track, none padded or cut
};

// Writes the file of track `number` from bin into the folder and says its
// "Processing file..." line. Reports whatever was lost (missing BIN bytes, a
// file that could not be written); a file that could not be written leaves
// the final name as it was.
track_outcome extract_track(console& c, const output_folder& folder, std::int32_t number, const track_span& track,
                            bin_reader& bin, track_buffer& buffer);

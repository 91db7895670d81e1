// Writes one track of the BIN to its own file: trackN.iso or trackN.ogg.
#pragma once

#include "base/console.h"
#include "base/paths.h"
#include "cue/layout.h"
#include "cue/virtual_bin.h"
#include "extract/audio_encoder.h"

#include <cstdint>

inline constexpr int user_data_size = 2048;
inline constexpr int sectors_per_read = 256;   // one read and one write per 256 sectors

// A writer's working memory, reused from track to track. Fixed-size, so
// memory use does not grow with the track; page-aligned, so the kernel
// copies whole pages in and out of it.
struct track_buffer {
    alignas(4096) unsigned char sectors[sectors_per_read * raw_sector_size];
    unsigned char audio[audio_read_size];
    char path[path_capacity];
};

// Writes the file of track `number` from bin and says its "Processing
// file..." line. Returns false when something was lost (missing BIN bytes, a
// file that could not be written), after reporting it.
bool extract_track(console& c, const run_paths& paths, std::int32_t number, const track_span& track,
                   bin_reader& bin, track_buffer& buffer);

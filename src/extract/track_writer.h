// Writes one track of the BIN to its own file: trackN.iso or trackN.ogg.
#pragma once

#include "app/paths.h"
#include "cue/track_table.h"

#include <cstdint>
#include <cstdio>

inline constexpr int user_data_size = 2048;
inline constexpr int sectors_per_read = 256;  // one read and one write per 256 sectors
inline constexpr int audio_read_size = 4096;  // 1024 stereo frames per encoder pass

// The writer's working memory, reused from track to track. Fixed-size, so
// memory use does not grow with the track; page-aligned, so the kernel
// copies whole pages in and out of it.
struct track_buffer {
    alignas(4096) unsigned char sectors[sectors_per_read * raw_sector_size];
    char path[path_capacity];
};

// Writes the file of the track at 0-based index (track number index + 1) and
// prints its "Processing file..." line. Returns false when something was
// lost (missing BIN bytes, a file that could not be written), after saying so
// on standard error.
bool extract_track(const run_paths& paths, const track_table& table, std::FILE* bin_file, int index,
                   track_buffer& buffer);

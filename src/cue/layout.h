// Turns the sheet's INDEX and PREGAP positions into each track's place in the
// BIN, writing the TOC file as it goes.
#pragma once

#include "app/paths.h"
#include "app/platform.h"
#include "cue/track_table.h"

#include <cstdint>
#include <cstdio>

// A frame count as minutes:seconds:frames; a negative count gives the
// unsigned fields that 32-bit C arithmetic gives it.
struct msf_time {
    std::uint32_t minutes;
    std::uint32_t seconds;
    std::uint32_t frames;
};
msf_time to_msf(std::int32_t frame_count);

// Creates the output directory (an existing one is used) and the TOC file in
// it, printing the two progress lines. Prints "Error creando TOC" and returns
// an empty handle when the TOC cannot be created.
file_stream create_toc_file(const run_paths& paths);

// Sets start_sector and length_sectors of tracks 1..track_count and writes the
// TOC lines. Returns false when a track came out with a negative length
// (INDEX positions out of order), after saying so on standard error.
bool lay_out_tracks(track_table& table, std::FILE* toc_file);

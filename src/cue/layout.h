// Turns the sheet's INDEX and PREGAP positions into each track's place in the
// (virtual) BIN. Computes only; the TOC writer formats the result.
#pragma once

#include "cue/cue_sheet.h"

#include <cstdint>

struct track_span {
    std::int32_t start_sector;     // first sector in the BIN; may be negative
    std::int32_t length_sectors;   // negative when INDEX positions run backwards
    std::int32_t pregap_frames;    // > 0: a PREGAP not stored in the BIN
    std::int32_t is_audio;
    std::int32_t is_mode2;
};

struct disc_layout {
    track_span tracks[max_tracks + 1];   // by track number; [0] unused
    std::int32_t track_count;
};

// Places tracks 1..track_count: each starts at its INDEX position less the
// PREGAP lengths of the tracks before it (counted since the last track with
// an INDEX 00) and runs to the next track's INDEX position; the last one to
// the end of the BIN.
disc_layout lay_out_tracks(const cue_sheet& sheet);

// A frame count as minutes:seconds:frames; a negative count gives the
// unsigned fields that 32-bit C arithmetic gives it.
struct msf_time {
    std::uint32_t minutes;
    std::uint32_t seconds;
    std::uint32_t frames;
};
msf_time to_msf(std::int32_t frame_count);

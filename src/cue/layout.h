// Turns the sheet's INDEX positions into each track's place in the (virtual)
// BIN. Computes only; the TOC writer formats the result.
#pragma once

#include "cue/cue_sheet.h"

#include <cstdint>

struct track_span {
    std::int32_t start_sector;     // first sector in the BIN: its INDEX 01; may be negative
    std::int32_t length_sectors;   // negative when INDEX positions run backwards
    std::int32_t pregap_frames;    // > 0: a PREGAP not stored in the BIN
    std::int32_t is_audio;
    std::int32_t is_mode2;
};

// Tracks by number. [0] is the hidden track: audio before an audio track
// 1's INDEX 01 (sectors 0 up to it), kept as a track of its own; its length
// is 0 when there is none, or only silence.
struct disc_layout {
    track_span tracks[max_tracks + 1];
    std::int32_t track_count;
};

// The number of the first track that has a file: 0 with a hidden track, else 1.
std::int32_t first_track_file(const disc_layout& layout);

// Places tracks 1..track_count as every reader of CUE sheets does: each,
// track 1 too, starts at its INDEX 01 position and runs to the next track's;
// the last one to the end of the BIN. A PREGAP is silence that no file
// holds, so it shifts and shortens nothing; the sectors before track 1's
// INDEX 01 are in no track (see keep_hidden_track).
disc_layout lay_out_tracks(const cue_sheet& sheet);

// Where a track's INDEX 01 lies on the disc as a reader that honours REM
// SESSION lines places it: counted from track 1's INDEX 01, with every
// PREGAP after track 1's and, where the session changes, the lead-out and
// lead-in between the sessions (6750 + 4500 sectors after the first, 2250 +
// 4500 after a later one) and the 150-sector gap of the new session's first
// track when the sheet gives it neither a PREGAP nor an INDEX 00, as
// Redump's sheets leave it out. An ISO 9660 file system in a later
// session's data track counts its addresses from there.
std::int64_t disc_sector(const cue_sheet& sheet, const disc_layout& layout, std::int32_t number);

// A frame count as minutes:seconds:frames; a negative count gives the
// unsigned fields that 32-bit C arithmetic gives it.
struct msf_time {
    std::uint32_t minutes;
    std::uint32_t seconds;
    std::uint32_t frames;
};
msf_time to_msf(std::int32_t frame_count);

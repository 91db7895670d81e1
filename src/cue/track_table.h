// One record per track number, filled by the CUE reader and completed by the
// layout pass. Positions and lengths are CD frames: one 2352-byte raw sector,
// 1/75 of a second.
#pragma once

#include <cstdint>

inline constexpr int max_tracks = 256;
inline constexpr int raw_sector_size = 2352;

struct track_record {
    std::int32_t length_sectors;   // BIN size in sectors until laid out, then the track's length
    std::int32_t index1_frame;     // position of the track's last nonzero INDEX
    std::int32_t start_sector;     // first sector in the BIN, set by the layout pass
    std::int32_t pregap_frames;    // PREGAP length, -1 after an INDEX 00, else 0
    std::int32_t is_audio;         // 1 for AUDIO, 0 for the data modes
    std::int32_t is_mode2;         // data track whose sectors carry an XA subheader
};

struct track_table {
    track_record records[max_tracks + 1];   // indexed by track number; [0] unused
    std::int32_t track_count;               // number on the last TRACK line
    bool numbered_in_order;                 // the TRACK lines ran 1, 2, 3 ...
};

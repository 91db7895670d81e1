// The name of each track's file, the one rule the TOC, the track writer and
// the emulator sheet share.
#pragma once

#include <cstdint>

struct track_file_name {
    char text[24];   // "track" + up to 10 digits + ".iso"
};

// "trackN.iso" for a data track, "trackN.ogg" for an audio track; N without
// leading zeros.
track_file_name name_track_file(std::int32_t number, bool is_audio);

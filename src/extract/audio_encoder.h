// Encodes one audio track of the BIN (44100 Hz stereo, 16-bit little-endian)
// to an Ogg Vorbis stream.
#pragma once

#include "extract/track_writer.h"

#include <cstdint>
#include <cstdio>

inline constexpr int audio_frames_per_sector = raw_sector_size / 4;
inline constexpr float vorbis_quality = 0.1f;

struct audio_result {
    bool encoder_ready;            // false: nothing was written
    std::int64_t frames_encoded;   // stereo frames handed to the encoder
};

// Reads the track's length_sectors * 2352 bytes from bin_file's current
// position (bin_file may be null: no input at all) and writes a complete
// stream, ending early, without padding, where the BIN ends.
audio_result encode_audio_track(std::FILE* bin_file, std::FILE* ogg_file, std::int32_t length_sectors,
                                track_buffer& buffer);

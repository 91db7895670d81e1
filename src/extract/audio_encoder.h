// Encodes one audio track (44100 Hz stereo, 16-bit little-endian frames) to
// an Ogg Vorbis stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

inline constexpr int audio_read_size = 4096;   // 1024 stereo frames per encoder pass
inline constexpr int audio_frames_per_sector = 2352 / 4;
inline constexpr float vorbis_quality = 0.1f;

// Where the track's bytes come from: read fills up to size bytes and returns
// how many it gave, fewer only at the end of the input.
struct pcm_source {
    std::size_t (*read)(void* context, unsigned char* buffer, std::size_t size);
    void* context;
};

struct audio_result {
    bool encoder_ready;            // false: nothing was written
    std::int64_t frames_encoded;   // stereo frames handed to the encoder
    int write_error;               // errno of the write that stopped the encoding, else 0
};

// Takes byte_count bytes from the source (fewer if it ends sooner; a null
// read means no input at all) in reads of audio_read_size into buffer, and
// writes a complete stream to ogg_file, ending where the input ends, or at
// the first write that fails.
// serial_number: the Ogg stream's.
audio_result encode_audio_track(const pcm_source& source, std::int64_t byte_count, int serial_number,
                                std::FILE* ogg_file, unsigned char (&buffer)[audio_read_size]);

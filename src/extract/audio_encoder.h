// Encodes one audio track (44100 Hz stereo, 16-bit little-endian frames) to
// an Ogg Vorbis stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

inline constexpr int audio_read_size = 4096;   // 1024 stereo frames per encoder pass
inline constexpr int audio_frames_per_sector = 2352 / 4;
inline constexpr int audio_bytes_per_frame = 4;
inline constexpr char encoder_comment[] = "ENCODER=encoder_example";   // every stream's first comment

// Where the track's bytes come from: read fills up to size bytes and returns
// how many it gave, fewer only at the end of the input.
struct pcm_source {
    std::size_t (*read)(void* context, unsigned char* buffer, std::size_t size);
    void* context;
};

// The track's bytes as the encoders take them: byte_count bytes from the
// source (fewer if it ends sooner; a null read means no input at all), in
// reads of audio_read_size.
struct pcm_reader {
    const pcm_source& source;
    std::int64_t bytes_left;
    bool ended;
};

// Fills buffer with the next pass of whole frames and returns how many; 0
// once the input has ended. The rest of a read past the track belongs to
// the next one, and is dropped.
int read_frames(pcm_reader& reader, unsigned char (&buffer)[audio_read_size]);

struct audio_result {
    bool encoder_ready;            // false: nothing was written
    std::int64_t frames_encoded;   // stereo frames handed to the encoder
    int write_error;               // errno of the write that stopped the encoding, else 0
};

// What goes into the stream besides the audio.
struct vorbis_settings {
    float quality;                              // VBR quality on libvorbis's scale, -0.1 to 1
    int serial_number;                          // the Ogg stream's
    const std::vector<std::string>* comments;   // "KEY=value" each, after encoder_comment; may be null
};

// Takes the track's bytes from the source through buffer and writes a
// complete stream to ogg_file, ending where the input ends, or at the first
// write that fails.
audio_result encode_audio_track(const pcm_source& source, std::int64_t byte_count, const vorbis_settings& settings,
                                std::FILE* ogg_file, unsigned char (&buffer)[audio_read_size]);

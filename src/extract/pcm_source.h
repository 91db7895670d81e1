// The audio every encoder takes: a track's 44100 Hz stereo frames of 16-bit
// little-endian samples, read from wherever the track's bytes come from, in
// passes of up to 1024 frames.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
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
// reads of audio_read_size into buffer.
struct pcm_reader {
    const pcm_source& source;
    std::int64_t bytes_left;
    unsigned char (&buffer)[audio_read_size];
    bool ended = false;
};

// Fills the reader's buffer with the next pass of whole frames and returns
// how many; 0 once the input has ended. The rest of a read past the track
// belongs to the next one, and is dropped.
int read_frames(pcm_reader& reader);

struct audio_result {
    bool encoder_ready;            // false: nothing was written
    std::int64_t frames_encoded;   // stereo frames handed to the encoder
    int write_error;               // errno of the write that stopped the encoding, else 0
    bool verified = false;         // for a proof: every frame decoded back to its input as it was written
    std::array<unsigned char, 16> stream_md5{};   // for a proof: the MD5 the stream records of its samples
};

// What goes into a stream besides the audio; each encoder takes what its
// format has.
struct encoder_settings {
    float quality;                              // Vorbis VBR quality on libvorbis's scale, -0.1 to 1
    int serial_number;                          // the Ogg stream's
    const std::vector<std::string>* comments;   // "KEY=value" each, after encoder_comment; may be null
    bool proof = false;   // --lossless: a lossless codec's smallest files, each frame checked as it is written
};

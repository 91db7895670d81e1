// A FLAC file as a part of the virtual BIN: its STREAMINFO, and a decoder
// that gives its samples as CD audio's bytes, from any sample on.
#pragma once

#include "cue/file_content.h"
#include "cue/virtual_bin.h"

#include <cstdint>
#include <string>

struct flac_stream_info {
    unsigned sample_rate = 0;
    unsigned channels = 0;
    unsigned bits_per_sample = 0;
    std::uint64_t total_samples = 0;   // 0: the stream does not say
};

// Reads the STREAMINFO of the FLAC stream in the file of file_size bytes
// (after any ID3v2 tag); false when there is none.
bool read_flac_stream_info(const byte_reader& read, std::int64_t file_size, flac_stream_info& info);

// Decodes the part's file, 16-bit stereo: the part's bytes are its samples
// as little-endian pairs, and silence after its last sample.
decoder_maker flac_decoder_maker();
// The same for the FLAC file at path, whatever part it is made for (a
// split's track file read back).
decoder_maker flac_decoder(std::string path);

// The bytes of audio the FLAC file at path holds (4 per stereo frame); -1
// when it cannot be read, or is not 44100 Hz stereo 16-bit audio.
std::int64_t flac_audio_bytes(const std::string& path);

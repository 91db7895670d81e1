// A FLAC file as a part of the virtual BIN: its STREAMINFO, and a decoder
// that gives its samples as CD audio's bytes, from any sample on.
#pragma once

#include "cue/file_content.h"
#include "cue/virtual_bin.h"

#include <cstdint>

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

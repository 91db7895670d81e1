// Encodes one audio track (44100 Hz stereo, 16-bit little-endian frames) to
// a FLAC stream: lossless, at compression level 5 (flac -5), with the
// comments in its VORBIS_COMMENT block.
#pragma once

#include "extract/audio_encoder.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

inline constexpr unsigned flac_compression_level = 5;

// Takes the track's bytes from the source through buffer and writes a
// complete stream to flac_file, which must be seekable and at its start: the
// STREAMINFO block is rewritten with the totals and MD5 at the end. Ends
// where the input ends, or at the first write that fails; the file stays
// open. comments: "KEY=value" each, in order; may be null.
audio_result encode_flac_track(const pcm_source& source, std::int64_t byte_count,
                               const std::vector<std::string>* comments, std::FILE* flac_file,
                               unsigned char (&buffer)[audio_read_size]);

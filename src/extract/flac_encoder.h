// Encodes one audio track (44100 Hz stereo, 16-bit little-endian frames) to
// a FLAC stream: lossless, at compression level 5 (flac -5), with the
// comments in its VORBIS_COMMENT block.
#pragma once

#include "extract/pcm_source.h"

#include <cstdio>

inline constexpr unsigned flac_compression_level = 5;
// For a proof (--lossless): the smallest files, as flac -8 makes them.
inline constexpr unsigned flac_proof_level = 8;

// Takes the track's frames from the input and writes a complete stream to
// flac_file, which must be seekable and at its start: the STREAMINFO block
// is rewritten with the totals and MD5 at the end. Ends where the input
// ends, or at the first write that fails; the file stays open. Of the
// settings, only the comments go into a FLAC stream; with proof, the
// encoder decodes every frame back as it goes (libFLAC's verify), and the
// result carries the MD5 that STREAMINFO records.
audio_result encode_flac_track(pcm_reader& input, const encoder_settings& settings, std::FILE* flac_file);

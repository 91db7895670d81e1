// Virtual BIN parts whose bytes are decoded from a split's track files, so
// that a split folder reads as the disc it was split from: an Ogg Vorbis
// file's samples, a .iso's sectors regenerated whole, zeros, bytes kept in
// memory. A FLAC file's samples come through the decoder of cue/flac_file.h,
// the one a sheet's FLAC file is read with.
#pragma once

#include "cue/sector_codes.h"
#include "cue/virtual_bin.h"

#include <cstdint>
#include <string>
#include <vector>

// A part of `bytes` bytes from first_byte, read through a decoder.
bin_part decoded_part(std::int64_t first_byte, std::int64_t bytes, decoder_maker decoder);

decoder_maker zeros_decoder();
decoder_maker bytes_decoder(std::string bytes);
// The .iso's 2048-byte blocks as raw sectors (MODE1, or XA Form 1 with the
// plain data subheader), the first at address first_lba; the sectors of the
// zero runs all zeros.
decoder_maker iso_decoder(std::string path, bool mode2, std::int64_t first_lba,
                          std::vector<sector_run> zero_sectors = {});
// 44100 Hz stereo 16-bit audio as little-endian bytes, as a BIN holds it.
decoder_maker vorbis_decoder(std::string path);

// The bytes of audio an Ogg Vorbis file holds (4 per stereo frame); -1 when
// it cannot be read, or is not 44100 Hz stereo 16-bit audio.
std::int64_t vorbis_audio_bytes(const std::string& path);

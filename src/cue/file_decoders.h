// Parts of the virtual BIN whose bytes are made from their file's rather
// than read as they are: big-endian audio, 2048-byte MODE1 sectors, and the
// silence that fills an audio file's last sector.
#pragma once

#include "cue/virtual_bin.h"

#include <cstdint>

// MOTOROLA: CD audio with each 16-bit sample's bytes the other way round.
// The part's bytes are the file's from its file_offset, each pair swapped;
// silence after the file's end.
decoder_maker motorola_decoder_maker();

// A file of 2048-byte MODE1 user data: each becomes the whole 2352-byte
// sector a drive reads, its sync, header, EDC and ECC made for its place on
// the disc, first_lba for the part's first sector.
decoder_maker mode1_user_data_decoder_maker(std::int32_t first_lba);

// Silence: every byte zero.
decoder_maker silence_decoder_maker();

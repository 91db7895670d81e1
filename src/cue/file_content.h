// What a file a sheet names holds, read from its first bytes rather than
// taken from the FILE line's type word: a RIFF WAVE file, a FLAC stream, a
// kind of audio that is not read (MP3, AIFF, ...), or raw bytes.
#pragma once

#include "cue/cue_sheet.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// Reads up to size bytes of the file from offset; fewer only at its end.
using byte_reader = std::function<std::size_t(std::int64_t offset, unsigned char* buffer, std::size_t size)>;

// CD audio: 16-bit stereo at 44100 Hz, as a WAVE or FLAC file must hold it.
inline constexpr unsigned cd_sample_rate = 44100;
inline constexpr unsigned cd_channels = 2;
inline constexpr unsigned cd_bits_per_sample = 16;

struct file_content {
    file_kind kind = file_kind::binary;   // wave or flac when it holds one; binary: raw bytes
    std::int64_t size_bytes = 0;          // raw: the file's size; wave: its data chunk's; flac: samples × 4
    std::int64_t data_offset = 0;         // wave: where the data chunk's bytes begin
    std::string refusal;                  // not empty: what it holds, which is not read ("MP3 audio")
};

// Reads what the file of file_size bytes holds.
file_content read_file_content(const byte_reader& read, std::int64_t file_size);

// A FILE line's type word. It is a hint: a WAVE or FLAC file is read as one
// whatever the word, as every reader of sheets does.
enum class type_word { binary, motorola, wave, flac, aiff, mp3, unknown };
type_word read_type_word(const char* text);

// BINARY and MOTOROLA: raw sectors, whose size alone may do.
bool names_raw_sectors(type_word word);

// How a file is read, given its word and what it holds: raw bytes that the
// word calls big-endian are MOTOROLA, and raw bytes that the word calls
// audio of some kind are refused.
file_content reading_of(type_word word, file_content content);

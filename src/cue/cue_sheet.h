// What the CUE reader makes of a sheet: one record per track number, the BIN
// files the sheet names, and the problems worth telling that did not stop it.
// Positions and lengths are CD frames: one 2352-byte raw sector, 1/75 of a
// second.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

inline constexpr int max_tracks = 256;
inline constexpr int raw_sector_size = 2352;
inline constexpr int track_flags_capacity = 20;   // "DCP 4CH PRE SCMS" and its terminator

struct track_record {
    std::int32_t index1_frame;    // position of the track's INDEX 01 (of its file's start without one)
    std::int32_t pregap_frames;   // PREGAP length: silence no file holds; 0 without one
    std::int32_t bin_sectors;     // whole sectors of the BIN read when the track was stored
    std::int32_t is_audio;        // 1 for AUDIO, 0 for the data modes
    std::int32_t is_mode2;        // data track whose sectors carry an XA subheader
    std::int32_t session;         // of the REM SESSION line before its TRACK line; 0: the sheet has none
    bool gap_in_bin;              // it has an INDEX 00: the BIN holds its gap
    char flags[track_flags_capacity];   // the FLAGS words kept, blank-separated; "" for none
};

// How a FILE line's file gives the disc's 2352-byte sectors, by what it holds.
enum class file_kind {
    binary,     // raw sectors as they are: 2352 bytes each, or 2048 of MODE1 user data
    motorola,   // raw CD audio with each sample's two bytes swapped (big-endian)
    wave,       // a RIFF WAVE file's data chunk of CD audio
    flac,       // a FLAC stream of CD audio
};
inline constexpr int mode1_user_data_bytes = 2048;

// A FILE line's file, as sized while the sheet was read.
struct bin_file_entry {
    std::string name;            // the file found for the FILE line's name, relative to the sheet's folder
    int line_number;
    std::int64_t size_bytes;     // of what its sectors are made from: a raw file's size, a WAVE
                                 // file's data chunk, a FLAC stream's samples x 4
    file_kind kind = file_kind::binary;
    std::int64_t data_offset = 0;          // where those bytes begin in the file (a WAVE file's data)
    int sector_bytes = raw_sector_size;    // mode1_user_data_bytes: a file of MODE1/2048 tracks
    std::int64_t file_bytes = -1;          // the whole file's size; -1: size_bytes
};

// An audio file's last sector is filled with silence, as a CD holds whole
// sectors; a raw file's incomplete last sector is no sector at all.
inline bool is_audio_file(const bin_file_entry& file) { return file.kind != file_kind::binary; }
inline std::int64_t whole_sectors_of(const bin_file_entry& file)
{
    return is_audio_file(file) ? (file.size_bytes + raw_sector_size - 1) / raw_sector_size
                               : file.size_bytes / file.sector_bytes;
}

// The CD-TEXT of a sheet: the disc's CATALOG, TITLE, PERFORMER, SONGWRITER
// and REM GENRE and REM DATE lines before the first TRACK, each track's
// TITLE, PERFORMER, SONGWRITER and ISRC lines in its block.
enum class text_field { catalog, title, performer, songwriter, isrc, genre, date };
inline constexpr int text_field_count = 7;

struct sheet_text {
    text_field field;
    std::int32_t track;   // the TRACK block it stands in; 0 for the disc
    std::string value;    // unquoted, bytes as they stand (any encoding), control bytes dropped
    std::string line;     // from the command word to the line's end, bytes as they stand but for
                          // control bytes, dropped, and a missing closing quote, added
    int line_number;
};

struct cue_sheet {
    track_record records[max_tracks + 1];   // indexed by track number; [0] unused
    std::int32_t track_count;               // number on the last TRACK line
    std::vector<bin_file_entry> bin_files;  // in sheet order
    std::vector<std::string> notices;       // problems to report, in sheet order
    std::vector<sheet_text> texts;          // in sheet order; one per field and place, the last line wins
    bool unicode = false;                   // a byte-order mark said the sheet is UTF-8 or UTF-16
};

// The value of a field for a track (0: the disc); null when the sheet has none.
const std::string* find_text(const cue_sheet& sheet, std::int32_t track, text_field field);

// The first malformed line: the run prints "Error!! line N " + message.
struct cue_error {
    int line_number;
    std::string message;
    std::string detail;   // for standard error: what the line holds, the path and reason, the fix
};

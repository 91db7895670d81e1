// Writes one track of the BIN to its own file: trackN.iso (or trackN.bin,
// its raw sectors), trackN.ogg or trackN.flac.
#pragma once

#include "base/console.h"
#include "cue/sector_codes.h"
#include "cue/layout.h"
#include "cue/virtual_bin.h"
#include "extract/pcm_source.h"
#include "extract/audio_tags.h"
#include "output/output_file.h"
#include "output/split_record.h"
#include "output/track_format.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

inline constexpr int user_data_size = 2048;
inline constexpr int sectors_per_read = 256;   // one read and one write per 256 sectors

// A writer's working memory, reused from track to track. Fixed-size, so
// memory use does not grow with the track; page-aligned, so the kernel
// copies whole pages in and out of it.
struct track_buffer {
    alignas(4096) unsigned char sectors[sectors_per_read * raw_sector_size];
    unsigned char audio[audio_read_size];
};

// Serial numbers for the Ogg streams: the first rand() after srand(time),
// as one process-wide generator gives them, so taken under one lock.
struct serial_source {
    std::mutex lock;
};
int next_serial_number(serial_source& serials);

// What one writer works with: the output folder, the tags and the serial
// numbers are shared by all writers, the BIN reader and the buffer are its own.
struct track_writer {
    const output_folder* folder = nullptr;
    track_format format;
    const std::vector<track_comments>* comments = nullptr;   // by track number; null: none
    const std::vector<std::string>* recipes = nullptr;       // by track number; null: no record kept

    serial_source* serials = nullptr;
    bin_reader bin;
    std::unique_ptr<track_buffer> buffer = std::make_unique<track_buffer>();
    bool said_early = false;   // the track's line was said as it began
    bool kept_early = false;   // and it was "Keeping file...": the file stays as it is
};

struct track_outcome {
    bool written;    // the file is in place under its final name
    bool complete;   // and holds every sector of the track, none padded, cut or damaged
    std::int64_t xa_form2_sectors = 0;   // of them, cut from 2324 bytes to the .iso's 2048
    std::int64_t damaged_sectors = 0;    // of them, zeros where the source is damaged (a CHD's hunk)
    // With --lossless:
    bool raw = false;        // a data track kept as its raw sectors: not every one regenerates
    bool proven = false;     // shown as it was written to give back every byte of the track
    bool all_zero = false;   // every byte of the track is zero: track 0 then keeps no file
    file_digest piece{};     // the MD5 and CRC32 of the track's bytes as read
    std::vector<sector_run> zero_sectors{};   // a .iso's sectors that are all zeros in the BIN, not regenerated
};

// Whether track `number`'s "Processing file..." line can be said as the
// track begins: its name is known before it is written. Not so for track 0,
// said only when kept, nor for a --lossless data track, named after what it
// holds.
bool named_before_writing(const track_format& format, std::int32_t number, const track_span& track);

// Says track `number`'s line as the track begins: "Keeping file..." when
// the record shows its file whole and unchanged (writer.kept_early), else
// "Processing file...".
void say_track_begins(voice c, track_writer& writer, std::int32_t number, const track_span& track);

// Writes the file of track `number` into the folder and says its "Processing
// file..." line, unless writer.said_early. Reports whatever was lost
// (missing BIN bytes, damaged sectors, a file that could not be written); a
// file that could not be
// written leaves the final name as it was. Adds the BIN bytes it has taken
// to progress as it goes. With --lossless, track 0 is the sectors before
// track 1's INDEX 01, kept (and said) only when one of its bytes is not zero.
// With the folder's record kept: a file that the record says was written
// whole from the same recipe, and is still as it was written, is kept
// ("Keeping file..."), and a file written is entered in the record.
track_outcome extract_track(voice c, track_writer& writer, std::int32_t number, const track_span& track,
                            std::atomic<std::int64_t>& progress);

// A CD CHD's track table: one metadata entry per track ("CHT2", or "CHTR"
// in older files), a line of text such as "TRACK:3 TYPE:AUDIO SUBTYPE:NONE
// FRAMES:615 PREGAP:150 PGTYPE:VAUDIO PGSUB:NONE POSTGAP:0". FRAMES counts
// the frames the CHD keeps, a kept pregap's among them (its PGTYPE starts
// with V); a pregap not kept is silence no file holds, as a sheet's PREGAP.
// The tracks' frames follow one another, each track padded with empty
// frames to a multiple of four. Read into the track records a sheet of the
// same disc would give: that of its BIN, the tracks' frames one after
// another without the padding, as chdman extractcd writes it.
#pragma once

#include "cue/chd_image.h"
#include "cue/cue_sheet.h"

#include <cstdint>
#include <string>
#include <vector>

// How a track's frames keep its sectors: all 2352 bytes, or the part after
// the sync and header of MODE1 (2048 bytes) or MODE2 (2336 bytes) sectors.
enum class chd_sector_kind { audio, mode1_raw, mode2_raw, mode1_data, mode2_data };

struct chd_track {
    chd_sector_kind kind;
    std::int32_t frames;            // in the CHD, a kept pregap's included
    std::int32_t pregap;            // its pregap's frames
    bool pregap_kept;               // among its frames (an INDEX 00) rather than silence (a PREGAP)
    std::int64_t chd_frame;         // its first frame among the CHD's frames
    std::int64_t bin_sector;        // its first sector in the virtual BIN
    std::int32_t disc_address;      // the LBA of its first sector on the disc, for headers made anew
};

// More frames than any CD holds, by far: a larger table is not a CD's.
inline constexpr std::int64_t max_chd_frames = 1'000'000;

struct chd_track_table {
    std::vector<chd_track> tracks;
    std::int64_t bin_sectors = 0;
    chd_problem problem;
};

// The tracks the metadata lists, laid out over `frames` frames of the CHD;
// a problem when it lists none, or not as a CD's.
chd_track_table read_chd_tracks(const std::vector<chd_metadata>& metadata, std::uint64_t frames);

// The sheet of the same disc, naming one BIN of the given name.
void fill_chd_sheet(const std::vector<chd_track>& tracks, std::int64_t bin_sectors, const std::string& bin_name,
                    cue_sheet& sheet);

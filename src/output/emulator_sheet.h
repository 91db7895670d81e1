// The emulator sheet: a CUE sheet over the track files themselves, which
// emulators mount as the disc. Its first line names the sheet it came from,
// so that a second sheet whose name gives the same folder is not let in.
#pragma once

#include "base/console.h"
#include "cue/cue_sheet.h"
#include "cue/disc_source.h"
#include "cue/layout.h"
#include "output/output_file.h"
#include "output/track_format.h"

#include <cstdio>
#include <string>
#include <vector>

// The whole text, CR LF line ends: REM SOURCE and the disc's CD-TEXT
// lines (CATALOG, TITLE, PERFORMER, SONGWRITER), then per track its FILE,
// TRACK, CD-TEXT (TITLE, PERFORMER, SONGWRITER, ISRC), FLAGS, PREGAP and
// INDEX 01 lines. The CD-TEXT lines are the source's bytes as they stand.
// Every data track is MODE1/2048 (its .iso holds the 2048-byte user data),
// or with raw data MODE1/2352 or MODE2/2352 as in the source; the gaps are
// PREGAP lines only, an INDEX 00 gap already being in the track file before.
// An audio track 1's PREGAP line also holds the sectors before its INDEX 01;
// a data track 1 has none. At most 99 tracks: the caller checks.
std::string emulator_sheet_text(const char* source_name, const cue_sheet& sheet, const disc_layout& layout,
                                const track_format& format);

// The sheet named on the first line of an emulator sheet at path, however
// long; false when there is no such file or its first line is not a REM
// SOURCE line.
bool read_sheet_source(const char* path, std::string& source_name);

// Whether a track's file can stand in the emulator sheet.
struct track_fitness {
    bool fit = true;
    const char* why = nullptr;   // when unfit: the reason to report, or null when the run said it already
};

// The run's emulator sheet step: writes NAME.cue when every track's file is
// fit for it (fitness by track number, [0] unused); else, or when it cannot
// be written, reports why and removes one an earlier run left, as no sheet
// may point at a broken disc or another run's files. True when it is in
// place, and then in the record.
bool write_emulator_sheet_file(voice c, const output_folder& folder, const char* source_name, const cue_sheet& sheet,
                               const disc_layout& layout, const track_format& format,
                               const std::vector<track_fitness>& fitness);

// Writes each file that came with the image (a LibCrypt .sbi) beside the
// emulator sheet, as NAME.<extension>; what cannot be written is reported.
void write_companion_files(voice c, const output_folder& folder, const std::vector<companion_file>& companions);

// Removes the emulator sheet an earlier run left, when this run's tracks are
// not fit for one.
void remove_emulator_sheet(const output_folder& folder);

// The emulator sheet: a CUE sheet over the track files themselves, which
// emulators mount as the disc. Its first line names the sheet it came from,
// so that a second sheet whose name gives the same folder is not let in.
#pragma once

#include "cue/cue_sheet.h"
#include "cue/layout.h"
#include "extract/track_format.h"

#include <cstdio>
#include <string>

// Writes the whole text, CR LF line ends: REM SOURCE, then per track its
// FILE, TRACK, FLAGS, PREGAP and INDEX 01 lines. Every data track is
// MODE1/2048 (its .iso holds the 2048-byte user data), or with raw data
// MODE1/2352 or MODE2/2352 as in the source; the gaps are PREGAP lines only,
// the gap audio already being in the track files.
void write_emulator_sheet(std::FILE* file, const char* source_name, const cue_sheet& sheet,
                          const disc_layout& layout, const track_format& format = {});

// The sheet named on the first line of an emulator sheet at path; false when
// there is no such file or its first line is not a REM SOURCE line.
bool read_sheet_source(const char* path, std::string& source_name);

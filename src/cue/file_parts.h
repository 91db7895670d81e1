// The virtual BIN of a sheet's files, each read by what it holds: a raw
// file's sectors as they are, a WAVE file's data chunk, a FLAC stream's
// samples, big-endian audio swapped, 2048-byte MODE1 sectors made whole.
#pragma once

#include "cue/cue_reader.h"
#include "cue/layout.h"
#include "cue/virtual_bin.h"

#include <string>
#include <vector>

// Opens the file at path only to read what it holds: the track writers open
// it again, so no more than a few files are ever open. A file that cannot be
// opened reads as an empty one.
file_content probe_file(const std::string& path);

// The sheet's files one after another, paths[i] the path of bin_files[i]:
// whole sectors each, an audio file's last one filled with silence, a raw
// file's incomplete last sector left out but for the last file's.
virtual_bin join_sheet_files(const cue_sheet& sheet, const disc_layout& layout, const std::vector<std::string>& paths);

// Reads a CUE sheet into the track table and opens the one BIN file it names.
#pragma once

#include "app/platform.h"
#include "cue/track_table.h"

#include <cstdio>

inline constexpr int cue_line_capacity = 16384;

// Reads the whole sheet. On the first malformed line prints its
// "Error!! line N ..." message and returns false. bin_file is left open when
// the sheet named a BIN (and stays empty when it named none).
bool read_cue_sheet(std::FILE* cue_file, const char* cue_dir, track_table& table,
                    file_stream& bin_file);

// Reads "%u:%u:%u" as the C library would, but with defined results for any
// digits: a value too large for 32 bits saturates. Returns how many were read.
int scan_msf(const char* text, std::uint32_t (&parts)[3]);

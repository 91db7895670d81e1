// The sample disc's CUE sheets: one BIN for the disc, or one per track as
// disc dumps commonly come, with the same bytes joined under another sheet.
#pragma once

#include <string>

// The sheet of one BIN: the data track, then the three audio tracks, track 3
// with a gap stored in the BIN (INDEX 00), track 4 with one that is not (PREGAP).
std::string one_bin_sheet(const std::string& bin_name, bool mode2, int data_sectors);

// The name of track `track`'s BIN in the one-per-track form.
std::string per_track_bin_name(const std::string& name, int track);

// The sheet of one BIN per track: each audio track's file begins with its
// two-second gap (silence) under INDEX 00, so INDEX 01 is at 00:02:00 of its
// own file.
std::string per_track_sheet(const std::string& name, bool mode2);

// The same bytes as one BIN, with the gaps' INDEX 00 positions made absolute.
std::string joined_sheet(const std::string& bin_name, bool mode2, int data_sectors);

// The playlist of a multi-disc set, which emulators that swap discs load:
// SET.m3u beside the discs' output folders, one line per disc's emulator
// sheet, in disc order.
#pragma once

#include "app/sheet_report.h"
#include "base/console.h"
#include "base/temporary_files.h"

#include <vector>

// Writes a playlist for each set among the sheets of one call: two or more
// sheets whose names differ only in a disc part ("(Disc 2)", "Disc 2",
// "CD 2"), whose output folders are side by side, and whose emulator sheets
// are all in place. Named after the set as the output names are (whole
// names with full_names). Reports a playlist that could not be written.
void write_disc_playlists(console& c, temporary_files& temporaries, const std::vector<sheet_record>& records,
                          bool full_names);

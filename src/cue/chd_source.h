// A CD kept as a CHD, as chdman createcd writes it: its track table from its
// metadata, its sectors from its hunks, decoded as the tracks are read (no
// copy of the disc is made), each hunk's CRC checked. Audio is kept
// big-endian there and comes out as a BIN has it.
#pragma once

#include "cue/disc_source.h"

// Whether the file at path is read as a CHD: its name ends in ".chd" (in
// any case), or it begins with a CHD's signature.
bool is_chd_source(const char* path);

// Reads the CHD's header, metadata and hunk map. A file that is not a CD
// CHD this reader takes is refused, with why.
disc_source read_chd_source(const disc_name& disc);

// The sample disc's data track: a folder of small files and the ISO 9660
// image xorriso makes of it, both the same bytes on every run.
#pragma once

#include "sample_disc.h"

// Writes the folder the image is made from (removing what was there), with
// fixed modes and times.
void write_sample_files(const fs::path& dir);

// Makes the ISO 9660 image of the folder with xorriso and returns its bytes,
// cut to the volume size its primary volume descriptor records (the file
// is cut likewise).
byte_vector make_iso(const fs::path& source, const fs::path& iso);

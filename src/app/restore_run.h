// --restore: each split folder given back as the disc image it was split
// from: the source's files and sheet, byte for byte, from a --lossless
// split's manifest; a playable image (one BIN and its sheet) from any other.
#pragma once

#include "app/command_line.h"
#include "app/dat_check.h"
#include "app/sheet_pool.h"
#include "base/console.h"
#include "base/temporary_files.h"

#include <vector>

// Restores every folder, with up to `writers` decoding side by side; returns
// the highest exit status of the folders.
int run_restore(console& c, temporary_files& temporaries, const std::vector<const char*>& folders,
                const run_options& options, int writers, const dat_catalogue* dat, call_tally& tally);

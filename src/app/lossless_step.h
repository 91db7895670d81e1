// --lossless, after the tracks: whether every byte of the source is kept in
// the output folder and was shown to be as it was written; if so, the
// manifest that says how to put the source back together, written last.
#pragma once

#include "app/sheet_hashes.h"
#include "base/console.h"
#include "cue/disc_source.h"
#include "cue/source_feed.h"
#include "extract/track_writer.h"
#include "output/output_file.h"

#include <vector>

// Writes NAME.manifest.json when every track is proven and every other byte
// kept; else reports the first track (or bytes) that is not, removes a
// manifest an earlier run left, and returns false. outcomes by track number,
// [0] the sectors before track 1; format with the tracks kept raw.
bool write_lossless_manifest(voice c, const output_folder& folder, const disc_source& source,
                             const disc_layout& layout, const std::vector<track_outcome>& outcomes,
                             const source_feed& feed, const std::vector<hashed_file>& files,
                             const track_format& format);

// Writes a disc's track files side by side, one writer thread per job.
#pragma once

#include "base/console.h"
#include "cue/layout.h"
#include "cue/virtual_bin.h"
#include "extract/audio_tags.h"
#include "extract/output_file.h"
#include "extract/track_writer.h"

#include <vector>

// Writes tracks 1..track_count with up to `jobs` writers at once, each with
// its own BIN reader and buffer. What the writers say reaches c in track
// order, line for line as if the tracks had been written one after another
// (jobs 1 writes them so); while they work, c shows a progress line.
// comments: each audio file's tags, by track number. Returns each track's
// outcome, by track number ([0] unused).
std::vector<track_outcome> write_tracks(console& c, const output_folder& folder, const track_format& format,
                                        const std::vector<track_comments>& comments, const virtual_bin& bin,
                                        const disc_layout& layout, int jobs);

// One sheet's run, in its stages: read the source, claim the output folder,
// write the TOC (begin_sheet); the track files, written by the pool's
// writers; the emulator sheet and "Done" (end_sheet). The two parts may run
// on different threads.
#pragma once

#include "app/command_line.h"
#include "app/dat_check.h"
#include "app/sheet_pool.h"
#include "app/sheet_report.h"
#include "base/console.h"
#include "base/paths.h"
#include "base/temporary_files.h"
#include "cue/disc_source.h"
#include "output/folder_claim.h"
#include "output/output_file.h"
#include "output/split_record.h"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

// One sheet's run, shared by its part before the tracks and its part after
// them. It lives from the sheet's first line until its last file is written,
// with the folder's lock and whatever else the run holds in its output
// folder until then.
struct sheet_run {
    run_paths paths{};
    disc_source source;
    output_folder folder;
    temporary_files* temporaries = nullptr;   // that the source's files are unpacked through
    folder_claim claim;
    split_journal journal;                  // the folder's record, kept as the files go in
    std::vector<track_comments> comments;
    std::vector<std::string> recipes;      // each track file's, by track number ([0] unused)
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    bool says_done = false;    // the run got past the TOC: it ends in "Done"
    bool has_tracks = false;   // and has track files to write, then the emulator sheet
    std::unique_ptr<source_feed> feed;   // the source files' bytes for their hashes, when asked for
    std::vector<bool> raw_tracks;        // by number: data tracks --lossless kept raw
    bool toc_has_track_zero = false;     // the TOC lists track 0 (a hidden track), as written before the tracks
    const dat_catalogue* dat = nullptr;  // --dat: what the files are checked against
    int writers = 1;                     // the pool's writers, for the feed's ring
};

output_naming naming_of(const run_options& options);

// The part of a sheet's run before its tracks: reads the sheet, claims the
// output folder, writes the TOC. Returns the tracks to write: none when the
// run ends here (or is skipped), or has no track file to write.
sheet_tracks begin_sheet(voice c, sheet_run& run, temporary_files& temporaries, const disc_name& disc,
                         const run_options& options, sheet_record& record);

// The part after the tracks: the emulator sheet (and with --lossless the
// manifest), then "Done", and what the hashes tell. Removes what the run
// unpacked.
void end_sheet(voice c, sheet_run& run, const disc_name& disc, const run_options& options,
               const std::vector<track_outcome>& outcomes, sheet_record& record);

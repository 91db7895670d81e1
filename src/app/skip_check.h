// --skip-done: whether a sheet's split is complete and up to date.
#pragma once

#include "app/sheet_report.h"
#include "base/console.h"
#include "base/paths.h"
#include "cue/disc_source.h"
#include "output/track_format.h"

#include <string>

// The sheet's output folder (its own, not a link) has a complete record of
// this sheet's split with this call's options; it names exactly the files
// this run would write; the TOC, the emulator sheet and a LibCrypt file
// hold the very bytes this run would write; and each track file, the
// hidden track's too, was written whole from the recipe this run would
// give it (the same sources, as they are now, the same options, place and
// tags, the tags read in text_encoding) and is still as written: its size,
// and its time or else its bytes. Reads the sheet without a word: anything
// amiss in it is told by the run that follows. Records the tracks of a
// split that is done.
bool split_is_done(const disc_name& disc, const run_paths& paths, const track_format& format,
                   const std::string& text_encoding, sheet_record& record);

// "Skipping NAME.cue: ..."
void say_skipped(voice c, const run_paths& paths, const disc_name& disc);

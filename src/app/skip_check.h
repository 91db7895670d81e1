// --skip-done: whether a sheet's split is complete and newer than its files.
#pragma once

#include "app/sheet_report.h"
#include "base/console.h"
#include "base/paths.h"
#include "cue/disc_source.h"
#include "output/track_format.h"

// The sheet's output folder holds its emulator sheet, naming it; that
// sheet's FILE lines are the track files this run would write; they, the
// emulator sheet and the TOC all exist and are newer than the sheet and
// every file it is read from. Reads the sheet without a word: anything
// amiss in it is told by the run that follows. Records the tracks of a
// split that is done.
bool split_is_done(const disc_name& disc, const run_paths& paths, const track_format& format, sheet_record& record);

// "Skipping NAME.cue: ..."
void say_skipped(voice c, const run_paths& paths, const disc_name& disc);

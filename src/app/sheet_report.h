// What became of each sheet of a call: for the --report file, one JSON line
// per sheet, and for the playlists of multi-disc sets, written after them.
#pragma once

#include "base/console.h"
#include "base/digest.h"
#include "base/paths.h"
#include "cue/layout.h"
#include "output/track_format.h"

#include <cstdint>
#include <string>
#include <vector>

struct track_entry {
    std::int32_t number = 0;
    std::string file;          // its name in the output folder
    bool is_audio = false;
    std::int64_t sectors = 0;
    std::int64_t bytes = -1;   // of the file in place; -1 when the run did not put one there
};

// A source file's hashes (--hash, --dat, --lossless).
struct file_entry {
    std::string name;
    file_digest digest;
};

struct sheet_record {
    std::string sheet;                 // the path as given
    std::string out_parent;            // where its output folder is; both "" when the path was too long
    std::string out_name;
    bool has_folder = false;           // the output folder is there, the sheet's: the report names it
    bool skipped = false;              // --skip-done found its split complete
    bool finished = false;             // the run went through to its "Done"
    bool emulator_sheet_in_place = false;   // written by this run, or found complete
    double seconds = 0;
    std::int64_t unpacked_bytes = -1; // of the files unpacked from its archive; -1: not a sheet in an archive
    std::vector<track_entry> tracks;   // in track order, once the sheet was read
    std::vector<std::string> problems; // the lines reported on standard error, unprefixed
    std::vector<file_entry> files;     // the sheet, then the files it names, when hashed
};

// "done", "problems", "skipped" or "error" (the run stopped before its end).
const char* sheet_status(const sheet_record& record, int exit_status);

// The sheet's JSON object on one line, ending in a newline. Bytes of a path
// that are not UTF-8 become U+FFFD.
std::string report_line(const sheet_record& record, int exit_status);

// Why the report file named by --report cannot take this call's lines, as
// the one line that refuses the call; "" when it can. It must not be one of
// the sheets or the files they are read from, lie in one of their output
// folders, be anything but a regular file (a FIFO would hold the run), or
// hold anything but report lines already (a sheet named where the file's
// name was forgotten: "--report a.cue b.cue").
std::string report_file_refusal(const std::string& report_path, const std::vector<const char*>& sheets,
                                const output_naming& naming);

// Appends the sheet's line to the report file in one write; reports on c a
// file that cannot take it, and then returns false.
bool append_report_line(console& c, const std::string& report_path, const sheet_record& record, int exit_status);

// Each track's file for the report: its size where the run put it in place
// (written[n] for track n; null when all of them are in place).
void record_tracks(sheet_record& record, const run_paths& paths, const disc_layout& layout,
                   const track_format& format, const std::vector<bool>* written);

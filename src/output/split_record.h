// The record of what a split is: ".trackcarve-record", a hidden JSON file in
// the output folder. It holds the options that shaped the files, the size,
// time and identity of each file the split was read from, and each file
// this program put in the folder: its size and time once in place, a hash
// of its bytes, and for a track file the recipe it was made from (the
// options, place, tags and sources that make it what it is). Rewritten as
// each file is put in place, and marked complete with the emulator sheet, so
// that a rerun keeps what is whole, --skip-done skips only a split that is
// still what the record says, and files this program wrote that new options
// no longer make are removed, never a file of the user's.
#pragma once

#include "base/console.h"
#include "base/platform.h"
#include "output/output_file.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

struct recorded_output {
    std::string name;
    std::int64_t size = 0;
    std::int64_t time = 0;    // its modification time right after it was put in place
    bool hashed = false;      // false: its bytes are a byte range of its sources (a raw track)
    std::uint64_t hash = 0;   // XXH3 of its bytes
    std::string recipe;       // a track file's, hashed; "" for the TOC and the emulator sheet
    bool clean = true;        // a track file that holds its whole track, nothing lost or cut
};

struct recorded_source {
    std::string path;
    file_facts facts;
};

struct split_record {
    bool complete = false;   // the emulator sheet is in place, over these very files
    std::vector<std::pair<std::string, std::string>> options;
    std::vector<recorded_source> sources;
    std::vector<recorded_output> outputs;
};

// The folder's record; false when it has none this version can read.
bool read_split_record(const run_paths& paths, split_record& record);

const recorded_output* find_output(const split_record& record, const std::string& name);

// The size and time of a file just put in place, for its entry.
recorded_output output_entry(const output_folder& folder, const std::string& name);

// Whether a file of the folder is still the one an entry describes: a
// regular file of its size, and either its time or (when the time moved)
// the hash of its bytes. `unsure` when only the bytes could tell and the
// entry has no hash of them.
enum class output_state { same, changed, unsure };
output_state state_of_output(const run_paths& paths, const recorded_output& entry, unsigned char* buffer,
                             std::size_t buffer_size);

// The record as a run keeps it from its claim to its last file, shared by
// the sheet's writers: what the folder's record says now.
struct split_journal {
    std::mutex lock;
    split_record found;    // as the run found it, complete or not
    split_record record;   // as the folder holds it now
};

// Puts entry in the journal's record in place of any of its name and writes
// the record into the folder (not complete: the emulator sheet comes last).
// A record that cannot be written is no failure of the run: see
// split_record.cpp.
void journal_output(const output_folder& folder, recorded_output entry);

// Removes the files the record says this program wrote that this run does
// not make (made: the names it makes), each only while it is still as
// written: one changed since is the user's now, and stays. Either way it
// leaves the record.
void remove_unmade_outputs(const output_folder& folder, const std::vector<std::string>& made);

// Writes the journal's record as it stands, marked complete or not, as the
// run's last file in the folder: flushed to the disk, and the folder's
// entries with it, every file the run renamed into place included.
void write_journal(const output_folder& folder, bool complete);

// The owner record: which sheet an output folder belongs to, kept in the
// folder from the moment a run claims it, so that another sheet whose name
// gives the same folder is kept out even of a folder an interrupted run left.
#pragma once

#include "base/console.h"
#include "cue/disc_source.h"
#include "output/output_file.h"

#include <string>

// The sheet's name as the record holds it, every byte as it is, however
// long; false when the folder has no record (or something else holds its
// name).
bool read_folder_owner(const run_paths& paths, std::string& owner);

// Records sheet_name as the folder's owner, written as every output is (a
// temporary renamed into place); a failure is reported.
void write_folder_owner(voice c, const output_folder& folder, const char* sheet_name);

// Two paths of folders lead to one folder: by name, or by what they are.
bool same_folder(const char* a, const char* b);

// The sheet as its output folder's owner: its file name, or where the output
// folder is not beside it (-o to another folder; the sheet's own, however
// spelt, is beside it), its full path, as sheets of one name from several
// folders may share an output folder there. A sheet in an archive: the
// archive's so, then '/' and the sheet's name inside it.
std::string owner_name_of(const disc_name& disc, const run_paths& paths);

// A name on one line, as the emulator sheet and the messages give it: the
// bytes below 32 as '?'.
std::string printable_name(const std::string& name);

// The sheet's name as the emulator sheet's REM SOURCE line records it.
std::string source_name_of(const disc_name& disc, const run_paths& paths);

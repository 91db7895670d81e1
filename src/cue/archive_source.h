// The CUE sheets in a .zip or .7z archive, each with the files it names
// beside it in the archive, read with libarchive. An archive's members can
// only be read from their start: their files are read straight from it,
// save at most one (and each FLAC file, which is read with seeks), which is
// unpacked before the tracks are cut.
#pragma once

#include "cue/disc_source.h"

#include <string>
#include <vector>

// The file at path begins as a zip or 7z archive does.
bool is_archive_source(const char* path);

// The names of the sheets (.cue) in the archive, in its order.
std::vector<std::string> list_archive_sheets(const char* path);

// Reads the sheet disc.member of the archive, and sizes the files it names
// from the archive's own records (or, for a type word other than BINARY and
// MOTOROLA, from their first bytes).
disc_source read_archive_source(const disc_name& disc);

// Unpacks the source's packed files: see unpack_disc_source.
bool unpack_archive_files(disc_source& source, temporary_files& temporaries,
                          const std::function<std::string(std::size_t n)>& temporary_path, std::string& failure);

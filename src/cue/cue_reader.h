// Reads a CUE sheet into its track records and the list of BIN files it names.
#pragma once

#include "cue/cue_sheet.h"

#include <cstdint>
#include <cstdio>
#include <functional>

inline constexpr int cue_line_capacity = 16384;

// Opens and sizes the BIN a FILE line names, given the base name of the
// quoted name: its size in bytes, or -1 when it cannot be opened.
using bin_probe = std::function<std::int64_t(const char* name)>;

struct cue_read {
    cue_sheet sheet;   // as far as the reader got; its notices hold even after an error
    bool ok;           // false: error holds the first malformed line
    cue_error error;
};

// Reads the whole sheet, stopping at its first malformed line. Prints nothing.
cue_read read_cue_sheet(std::FILE* cue_file, const bin_probe& probe);


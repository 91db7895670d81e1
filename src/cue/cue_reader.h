// Reads a CUE sheet into its track records and the list of BIN files it names.
#pragma once

#include "cue/cue_sheet.h"
#include "cue/file_content.h"

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <utility>

inline constexpr int cue_line_capacity = 16384;

// What looking for the file a FILE line names found, and what it holds.
struct bin_found {
    std::int64_t size_bytes = -1;   // the file's size; -1: no file by that name could be opened
    std::string name;               // the file found, relative to the sheet's folder; "": the name as given
    std::string problem;            // when none was opened, what to tell beyond "Open fail"; may be ""
    file_content content;           // what it holds: by default raw bytes, all of it
    bin_found(std::int64_t size) : size_bytes(size) { content.size_bytes = size; }   // the name as given
    bin_found(std::int64_t size, std::string found, std::string why = {})
        : size_bytes(size), name(std::move(found)), problem(std::move(why))
    {
        content.size_bytes = size;
    }
};

// Finds and opens the file a FILE line names, given the name as the line
// writes it (in UTF-8), and reads what it holds. raw_word: the line's type
// word calls it raw sectors (BINARY, MOTOROLA), so its size may do where
// looking inside costs much.
using bin_probe = std::function<bin_found(const char* name, bool raw_word)>;

struct cue_read {
    cue_sheet sheet;   // as far as the reader got; its notices hold even after an error
    bool ok;           // false: error holds the first malformed line
    cue_error error;
};

// Reads the whole sheet, stopping at its first malformed line. Prints nothing.
cue_read read_cue_sheet(std::FILE* cue_file, const bin_probe& probe);

// The same, for a sheet held in memory (one read from an archive).
cue_read read_cue_text(const std::string& text, const bin_probe& probe);


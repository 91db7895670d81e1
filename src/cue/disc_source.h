// A disc source: what the user names on the command line, read into the
// track table and the virtual BIN that the tracks are cut from: a CUE sheet
// with its BIN files (cue_source.cpp), a CHD (chd_source.cpp). Each kind of
// source is a file of its own and a row in disc_source.cpp. Nothing above
// this layer opens a source's files.
#pragma once

#include "cue/cue_sheet.h"
#include "cue/layout.h"
#include "cue/virtual_bin.h"

#include <string>
#include <vector>

// A file that comes with the image and goes beside the emulator sheet
// under its name: a PlayStation disc's LibCrypt data (.sbi, .lsd), which
// emulators look for by the name of the sheet they load.
struct companion_file {
    std::string extension;   // "sbi" or "lsd"
    std::string bytes;
};

struct disc_source {
    // not_a_source: a file that cannot be split as what it is (no sheet at
    // all, a damaged CHD, a hard disk's), error.message saying why in one
    // line, its path first.
    enum class state { read, unopened, malformed, not_a_source };
    state result = state::unopened;
    cue_sheet sheet{};         // the track table and CD-TEXT; its notices hold even after an error
    cue_error error{};         // for a malformed source: its first malformed line; for a file that
                               // cannot be split: why (message only)
    disc_layout layout{};      // where each track lies in the virtual BIN
    virtual_bin bin;           // the tracks' bytes
    std::vector<std::string> files;   // every file it is read from, the one named first
    std::vector<companion_file> companions;
    std::string sheet_bytes;          // the sheet as it stands, byte for byte (once read)
};

// Reads the source at path, in the folder its path gives (up to its
// base_name). Prints nothing.
disc_source read_disc_source(const char* path);

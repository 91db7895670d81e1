// A disc source: what the user names on the command line, read into the
// track table and the virtual BIN that the tracks are cut from: a CUE sheet
// with its files (cue_source.cpp), the sheets in a .zip or .7z archive
// (archive_source.cpp), a CHD (chd_source.cpp). Each kind of source is a
// file of its own and a row in disc_source.cpp. Nothing above this layer
// opens a source's files.
#pragma once

#include "base/temporary_files.h"
#include "cue/cue_sheet.h"
#include "cue/layout.h"
#include "cue/virtual_bin.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// A file that comes with the image and goes beside the emulator sheet
// under its name: a PlayStation disc's LibCrypt data (.sbi, .lsd), which
// emulators look for by the name of the sheet they load.
struct companion_file {
    std::string extension;   // "sbi" or "lsd"
    std::string bytes;
};

// One disc an argument names: a sheet, or one of the sheets in an archive.
struct disc_name {
    std::string path;     // the argument as given
    std::string member;   // the sheet's name inside the archive; "" for a sheet of its own
};

// The sheet by its full name: its path, or the archive's path, '/' and the
// sheet's name inside it.
std::string full_name(const disc_name& disc);

// The sheet as the dialogue names it: its file name, or the archive's file
// name, '/' and the sheet's name inside it.
std::string shown_name(const disc_name& disc);

// The path the output names are made from: the sheet's own, or for a sheet
// in an archive, the sheet's file name in the archive's folder, as if the
// archive were unpacked beside itself.
std::string naming_path(const disc_name& disc);

// A file of an archive that the virtual BIN reads, unpacked before the
// tracks are cut: the parts that read it take the unpacked file's path.
// (The files it reads straight from the archive are none of these.)
struct packed_file {
    std::string name;                  // its name in the archive
    std::int64_t size = 0;
    std::vector<std::size_t> parts;    // of the virtual BIN
    std::string unpacked_path;         // "" until unpacked
};

// A file of the dump that a source holds in another form (a CHD's tracks):
// a run of the virtual BIN, which the hashes and a lossless split take as
// that file.
struct image_file {
    std::string name;
    std::int64_t bin_first = 0;
    std::int64_t bytes = 0;
};

struct disc_source {
    // not_a_source: a file that cannot be split as what it is (no sheet at
    // all, a damaged CHD, a hard disk's), error.message saying why in one
    // line, its path first.
    enum class state { read, unopened, malformed, not_a_source };
    state result = state::unopened;
    std::string refusal;       // for an unopened source: why, when the dialogue's line does not say
    cue_sheet sheet{};         // the track table and CD-TEXT; its notices hold even after an error
    cue_error error{};         // for a malformed source: its first malformed line; for a file that
                               // cannot be split: why, and for one that did not open, why
                               // (message only)
    disc_layout layout{};      // where each track lies in the virtual BIN
    virtual_bin bin;           // the tracks' bytes
    std::vector<std::string> files;   // every file it is read from, the one named first
    std::vector<companion_file> companions;
    std::string sheet_name;           // the sheet's file name, as the hashes and a restore name it
    std::string sheet_bytes;          // the sheet as it stands, byte for byte (once read)
    std::string archive;              // the archive its files are in; "" for files of their own
    std::vector<packed_file> packed;  // of them, those the virtual BIN reads
    // The dump's files when the source is not them (a CHD); the sheet's
    // name and bytes are then those of the dump's sheet.
    std::vector<image_file> image_files;
};

// The discs an argument names: each sheet of an archive, in the archive's
// order; for anything else the argument itself. Prints nothing.
std::vector<disc_name> name_discs(const char* path);

// Reads the disc. Prints nothing, opens no file for writing.
disc_source read_disc_source(const disc_name& disc);

// Unpacks the packed files of the source, each to the temporary that
// temporary_path(n) names for the nth (made and removed through
// temporaries), and points their parts at them. On a failure, removes what
// it made and says in failure what went wrong and in which file.
bool unpack_disc_source(disc_source& source, temporary_files& temporaries,
                        const std::function<std::string(std::size_t n)>& temporary_path, std::string& failure);

// Removes the unpacked files.
void remove_unpacked_files(disc_source& source, temporary_files& temporaries);

// A split folder read back as a disc: its virtual BIN made of parts that
// decode the track files (FLAC and Ogg Vorbis audio, .iso sectors
// regenerated whole, raw .bin as it is). With a manifest (a --lossless
// split) the BIN is the source's own, byte for byte, and the manifest says
// how its files and sheet were; without one the emulator sheet gives a
// playable image, one BIN and its sheet.
#pragma once

#include "cue/layout.h"
#include "cue/manifest.h"
#include "cue/virtual_bin.h"

#include <string>
#include <vector>

struct split_folder {
    enum class kind { unreadable, lossless, playable };
    kind what = kind::unreadable;
    std::string why;                 // unreadable: what is wrong, naming the file
    std::string name;                // the folder's own name
    virtual_bin bin;                 // the disc's bytes
    disc_layout pieces{};            // the runs of the BIN that track files give, as tracks to read
    std::vector<std::string> inputs; // the folder's files it reads
    // lossless:
    disc_manifest manifest;
    std::vector<std::size_t> piece_of;   // by pieces' track number: its index in manifest.pieces
    // playable:
    std::string image_sheet;         // the image's sheet, its FILE line naming image_bin
    std::string image_bin;
    std::string not_original;        // what in the image differs from the dump for sure; "" when nothing is known
};

// Reads the folder at path; image_bin is the name a playable image's BIN
// gets (its sheet names it).
split_folder read_split_folder(const std::string& path, const std::string& image_bin);

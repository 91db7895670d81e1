// What a --lossless split keeps of its source, in the manifest it writes
// last in the output folder (JSON): the source sheet byte for byte, every
// source file's name, size and hashes, and how the disc's bytes (the virtual
// BIN of the source's files) map onto the track files. A restore reads it
// back.
#pragma once

#include "base/digest.h"
#include "cue/sector_codes.h"
#include "cue/virtual_bin.h"

#include <cstdint>
#include <string>
#include <vector>

// The manifest's name in the folder: NAME.manifest.json.
inline constexpr char manifest_suffix[] = ".manifest.json";

// A run of the disc's bytes and what gives it back.
struct manifest_piece {
    enum class kind { zeros, flac, iso, raw, bytes };
    kind what = kind::zeros;
    std::int64_t first = 0;   // in the virtual BIN
    std::int64_t bytes = 0;
    std::string file;         // flac, iso, raw: the track file in the folder
    bool mode2 = false;       // iso: its sectors are XA Form 1 (with the plain subheader), else MODE1
    std::int64_t lba = 0;     // iso: the address of its first sector
    std::vector<sector_run> zero_sectors;   // iso: sectors that are all zeros, not regenerated
    file_digest digest;       // the MD5 and CRC32 of the bytes it gives
    std::string data;         // bytes: the bytes themselves
};

// A source file: a run of the virtual BIN, with the bytes the BIN leaves
// out of it before (a WAVE file's header) and after (its later chunks, the
// incomplete last sector of a file that another follows); or the first
// `size` bytes that its form makes of the run.
struct manifest_file {
    std::string name;         // as the sheet's FILE line found it: relative to the sheet's folder, below it
    file_digest digest;       // size, CRC32, MD5 and SHA-1
    std::int64_t bin_first = 0;
    std::int64_t bin_bytes = 0;
    std::string head;
    std::string tail;
    file_form form = file_form::as_it_stands;   // never decoded
};

struct disc_manifest {
    std::string sheet_name;
    std::string sheet_bytes;
    file_digest sheet_digest;
    std::vector<manifest_file> files;   // in the sheet's order
    std::int64_t bin_size = 0;
    std::vector<manifest_piece> pieces; // in BIN order, end to end
};

std::string manifest_text(const disc_manifest& manifest);

// Reads a manifest; false, with why, for one that is not well formed: its
// pieces must cover the BIN end to end, and each file lie within it.
bool read_manifest(const std::string& text, disc_manifest& manifest, std::string& why);

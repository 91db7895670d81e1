// A Logiqx XML DAT, as Redump and TOSEC publish them (datafile/game/rom with
// name, size, crc, md5 and sha1), and a sheet's files checked against it.
#pragma once

#include "app/sheet_hashes.h"
#include "base/console.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

struct dat_rom {
    std::string name;
    std::int64_t size = -1;
    bool has_crc32 = false;
    bool has_md5 = false;
    bool has_sha1 = false;
    file_digest digest;
};

struct dat_game {
    std::string name;
    std::vector<dat_rom> roms;
};

struct dat_catalogue {
    std::vector<dat_game> games;
};

// Reads the DAT at path (expat); false, with why, when it cannot be read as one.
bool read_dat_file(const char* path, dat_catalogue& dat, std::string& why);

// Checks the source files (files[0] is the sheet) against the DAT: the
// game that most of them match is the sheet's. Says "Verified: GAME" when
// every file matches a file of it and it has no file the sheet lacks;
// reports each file that matches none, and each file of the game that the
// sheet lacks. The sheet's own match is said, and decides nothing.
void check_against_dat(voice c, const dat_catalogue& dat, const std::vector<hashed_file>& files);

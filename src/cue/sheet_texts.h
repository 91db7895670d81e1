// The CD-TEXT lines of a sheet (CATALOG, TITLE, PERFORMER, SONGWRITER, ISRC,
// REM GENRE, REM DATE), kept for the tags and the emulator sheet.
#pragma once

#include "cue/cue_sheet.h"

#include <cstddef>
#include <cstdint>
#include <vector>

struct text_keeper {
    std::vector<sheet_text>* texts = nullptr;
    // Where each field of each place is in texts, plus one; 0: not yet.
    std::size_t slots[max_tracks + 1][text_field_count] = {};
};

// Keeps the line when its command word (word, upper-cased) is a CD-TEXT
// one, in the place it stands: the disc (track 0) before the first TRACK,
// else the track's block. command is the line from its command word on,
// argument where the word's argument begins. A field given twice in one
// place keeps its first position and its last value. Other lines are left.
void keep_text_line(text_keeper& keeper, std::int32_t track, const char* word, const char* command,
                    const char* argument, int line_number);

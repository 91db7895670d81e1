// A CUE sheet and the BIN files it names, beside it.
#pragma once

#include "cue/disc_source.h"

// Whether the file at path is read as a CUE sheet: every file for now.
bool is_cue_source(const char* path);

// Reads the sheet at path and sizes the BIN files it names.
disc_source read_cue_source(const disc_name& disc);

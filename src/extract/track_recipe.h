// What makes a track file what it is, for the folder's record: a run that
// finds the same recipe recorded beside a file still as it was written
// keeps that file rather than writing it again.
#pragma once

#include "cue/layout.h"
#include "cue/virtual_bin.h"
#include "extract/audio_tags.h"
#include "output/split_record.h"
#include "output/track_format.h"

#include <cstdint>
#include <string>
#include <vector>

// The size, time and identity of each file a source is read from, taken
// before any of its bytes are: a file that changes while it is read is
// found changed by the next run.
std::vector<recorded_source> source_states(const std::vector<std::string>& files);

// The track's recipe, hashed: the options that shape its kind of file, its
// place and length, its tags, and each part of the BIN its bytes come from,
// with the size, time and identity of that part's file. Two runs that give
// one recipe write the same bytes (an .ogg up to its stream's serial number).
std::string track_recipe(std::int32_t number, const track_span& track, const virtual_bin& bin,
                         const std::vector<recorded_source>& sources, const track_format& format,
                         const track_comments* comments);

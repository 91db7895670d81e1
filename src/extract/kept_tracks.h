// Whether a track's file from an earlier run stays as it is, by the
// folder's record of what made it.
#pragma once

#include "base/content_hash.h"
#include "extract/track_writer.h"

#include <cstdint>
#include <string>

// Whether the folder's file `name` is still the one the record's entry says
// was written whole from this recipe: by its size and time, or else by its
// bytes (a raw track's against the BIN bytes it was copied from).
bool track_file_as_recorded(const run_paths& paths, const recorded_output* entry, const std::string& recipe,
                            bin_reader& bin, const track_span& track, track_buffer& buffer);

// The recipe of track `number` (what its file is made from), or null when
// the run keeps no record.
const std::string* recipe_of(const track_writer& writer, std::int32_t number);

// The record says the track's file is whole and unchanged: it is kept, and
// the record takes its time if only that changed. Never with --lossless.
bool track_is_kept(track_writer& writer, std::int32_t number, const track_span& track);

// Zeros (past the BIN's end) into a hash, as into the file.
void hash_zeros(content_hash& hash, std::int64_t bytes, track_buffer& buffer);

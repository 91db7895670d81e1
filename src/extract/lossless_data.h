// A data track under --lossless: trackN.iso while every sector is exactly
// what its 2048 bytes of user data and its address regenerate, else
// trackN.bin, its raw sectors. Decided sector by sector as the track is
// copied, so the BIN is read once.
#pragma once

#include "extract/track_writer.h"

// Writes the track's file, says its "Processing file..." line once its name
// is known, and reports what went wrong. The outcome is proven when the file
// holds every sector: a .iso's all regenerate, a .bin's are the BIN's own.
track_outcome write_lossless_data_track(voice c, track_writer& writer, std::int32_t number, const track_span& track,
                                        std::atomic<std::int64_t>& progress);

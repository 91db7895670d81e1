// The audio codecs a track can be written in: the first is the default.
#pragma once

#include "output/track_format.h"

#include <span>

std::span<const audio_codec> audio_codecs();

// The format of a run without options: Ogg Vorbis at -q 1, .iso data tracks.
track_format default_track_format();

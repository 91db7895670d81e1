// Encodes one audio track to an Ogg Vorbis stream, at the settings' VBR
// quality and stream serial number.
#pragma once

#include "extract/pcm_source.h"

#include <cstdio>

// Takes the track's frames from the input and writes a complete stream to
// ogg_file, ending where the input ends, or at the first write that fails.
audio_result encode_vorbis_track(pcm_reader& input, const encoder_settings& settings, std::FILE* ogg_file);

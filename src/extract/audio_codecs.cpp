#include "extract/audio_codecs.h"

#include "extract/flac_encoder.h"
#include "extract/vorbis_encoder.h"

namespace {

// Mednafen refuses FLAC as a type word and reads a WAVE line's .flac by its
// contents; the Beetle cores read a WAVE line's .ogg as raw noise.
constexpr audio_codec codec_table[] = {
    {"Vorbis", "ogg", "OGG", nullptr, nullptr, nullptr, encode_vorbis_track},
    {"FLAC", "flac", "WAVE", "flac", "audio tracks as lossless FLAC (trackN.flac)",
     "FLAC is lossless", encode_flac_track},
};

} // namespace

std::span<const audio_codec> audio_codecs() { return codec_table; }

track_format default_track_format()
{
    track_format format;
    format.codec = &codec_table[0];
    return format;
}

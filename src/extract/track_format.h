// How the track files are written: the choices the command line makes for
// every track of a run.
#pragma once

enum class audio_codec { vorbis, flac };

// The type word of the emulator sheet's audio FILE lines.
enum class sheet_word { by_codec, ogg, wave };

// libvorbis's own scale, a tenth of what -q takes (as oggenc reads it):
// -q 1 is 0.1, about 50-60 kbit/s on music.
inline constexpr float default_vorbis_quality = 0.1f;

struct track_format {
    bool raw_data = false;                    // data tracks as every raw 2352-byte sector, trackN.bin
    audio_codec codec = audio_codec::vorbis;
    float quality = default_vorbis_quality;   // Vorbis VBR quality, -0.1 to 1 (-q -1 to 10)
    sheet_word word = sheet_word::by_codec;
};

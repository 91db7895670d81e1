// How the track files are written: the choices the command line makes for
// every track of a run.
#pragma once

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

// The encoders' side of an audio codec (src/extract/pcm_source.h): the
// output folder names and lists a codec's files without knowing them.
struct pcm_reader;
struct encoder_settings;
struct audio_result;
using audio_encoder = audio_result (*)(pcm_reader& input, const encoder_settings& settings, std::FILE* file);

// An audio codec, all the run knows of it: one row of the table in
// src/extract/audio_codecs.cpp. A new codec is a row there and its encoder.
struct audio_codec {
    const char* name;          // in messages: "the Vorbis encoder"
    const char* extension;     // of its track files: trackN.EXT
    const char* sheet_word;    // the type word of the emulator sheet's FILE lines, unless one is chosen
    const char* option;        // the long option that chooses it; null for the default codec
    const char* option_help;   // that option's line in --help
    const char* lossless;      // why -q does not go with it; null when it takes -q
    audio_encoder encode;
};

// The type word of the emulator sheet's audio FILE lines.
enum class sheet_word { by_codec, ogg, wave };

// libvorbis's own scale, a tenth of what -q takes (as oggenc reads it):
// -q 1 is 0.1, about 50-60 kbit/s on music.
inline constexpr float default_vorbis_quality = 0.1f;

struct track_format {
    bool raw_data = false;                    // data tracks as every raw 2352-byte sector, trackN.bin
    bool lossless = false;                    // every byte kept and shown to be (--lossless)
    const std::vector<bool>* raw_tracks = nullptr;   // by number: data tracks --lossless kept raw; null for none
    const audio_codec* codec = nullptr;       // never null in a run: the command line's choice
    float quality = default_vorbis_quality;   // Vorbis VBR quality, -0.1 to 1 (-q -1 to 10)
    sheet_word word = sheet_word::by_codec;
};

// The type word of the emulator sheet's audio FILE lines: the codec's own
// unless --sheet-word chose one.
const char* audio_type_word(const track_format& format);

// The files an option shapes, of those a track is written to.
enum shaped_files : unsigned { shapes_data_tracks = 1, shapes_audio_tracks = 2 };

// An option that shapes the files, as the folder's record keeps it: its
// name, which track files it shapes (none: only the TOC or the emulator
// sheet, which are checked by their text) and its value as text. One row
// of the table in track_format.cpp each.
struct shaping_option {
    const char* name;
    unsigned shapes;
    std::string (*value)(const track_format& format);
};

// Every such option's name and value, in the table's order.
std::vector<std::pair<std::string, std::string>> shaping_values(const track_format& format);

// "name=value;" of each option that shapes that kind of track file: part
// of what makes the file what it is.
std::string shaping_text(const track_format& format, bool is_audio);

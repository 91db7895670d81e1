#include "output/track_format.h"

namespace {

std::string quality_text(const track_format& format)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", static_cast<double>(format.quality));
    return text;
}

// A new option that changes what a file holds is one row here.
constexpr shaping_option shaping_table[] = {
    {"codec", shapes_audio_tracks, [](const track_format& f) { return std::string(f.codec->extension); }},
    {"quality", shapes_audio_tracks, quality_text},
    {"sheet_word", 0, [](const track_format& f) { return std::string(audio_type_word(f)); }},
    {"raw_data", shapes_data_tracks, [](const track_format& f) { return std::string(f.raw_data ? "yes" : "no"); }},
    {"lossless", shapes_audio_tracks | shapes_data_tracks,
     [](const track_format& f) { return std::string(f.lossless ? "yes" : "no"); }},
};

} // namespace

const char* audio_type_word(const track_format& format)
{
    switch (format.word) {
    case sheet_word::ogg:
        return "OGG";
    case sheet_word::wave:
        return "WAVE";
    case sheet_word::by_codec:
        break;
    }
    return format.codec->sheet_word;
}

std::vector<std::pair<std::string, std::string>> shaping_values(const track_format& format)
{
    std::vector<std::pair<std::string, std::string>> values;
    for (const shaping_option& option : shaping_table)
        values.emplace_back(option.name, option.value(format));
    return values;
}

std::string shaping_text(const track_format& format, bool is_audio)
{
    const unsigned kind = is_audio ? shapes_audio_tracks : shapes_data_tracks;
    std::string text;
    for (const shaping_option& option : shaping_table)
        if ((option.shapes & kind) != 0)
            text.append(option.name).append(1, '=').append(option.value(format)).append(1, ';');
    return text;
}

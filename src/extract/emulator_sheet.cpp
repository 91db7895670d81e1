#include "extract/emulator_sheet.h"

#include "base/platform.h"
#include "extract/output_names.h"

#include <cstring>

namespace {

constexpr char source_line_start[] = "REM SOURCE \"";

void put_line(std::FILE* file, const char* text)
{
    std::fwrite(text, 1, std::strlen(text), file);
    std::fwrite("\r\n", 1, 2, file);
}

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
    // Mednafen refuses FLAC as a type word and reads a WAVE line's .flac by
    // its contents; the Beetle cores read a WAVE line's .ogg as raw noise.
    return format.codec == audio_codec::flac ? "WAVE" : "OGG";
}

// The sheet's CD-TEXT lines of one place (0: the disc), as they stand, in
// sheet order; REM GENRE and REM DATE are comments to CUE readers, and stay out.
void put_text_lines(std::FILE* file, const cue_sheet& sheet, std::int32_t track, const char* indent)
{
    for (const sheet_text& text : sheet.texts) {
        if (text.track != track || text.field == text_field::genre || text.field == text_field::date)
            continue;
        put_line(file, (indent + text.line).c_str());
    }
}

} // namespace

void write_emulator_sheet(std::FILE* file, const char* source_name, const cue_sheet& sheet,
                          const disc_layout& layout, const track_format& format)
{
    std::string line = source_line_start;
    line += source_name;
    line += '"';
    put_line(file, line.c_str());
    put_text_lines(file, sheet, 0, "");
    char text[96];
    for (std::int32_t number = 1; number <= layout.track_count; ++number) {
        const track_span& track = layout.tracks[number];
        const bool is_audio = track.is_audio != 0;
        std::snprintf(text, sizeof text, "FILE \"%s\" %s", name_track_file(number, is_audio, format).text,
                      is_audio ? audio_type_word(format) : "BINARY");
        put_line(file, text);
        std::snprintf(text, sizeof text, "  TRACK %02i %s", static_cast<int>(number),
                      is_audio ? "AUDIO" : "MODE1/2048");
        put_line(file, text);
        put_text_lines(file, sheet, number, "    ");
        if (sheet.records[number].flags[0] != '\0') {
            std::snprintf(text, sizeof text, "    FLAGS %s", sheet.records[number].flags);
            put_line(file, text);
        }
        if (track.pregap_frames > 0) {
            const msf_time t = to_msf(track.pregap_frames);
            std::snprintf(text, sizeof text, "    PREGAP %2.2u:%2.2u:%2.2u", t.minutes, t.seconds, t.frames);
            put_line(file, text);
        }
        put_line(file, "    INDEX 01 00:00:00");
    }
}

bool read_sheet_source(const char* path, std::string& source_name)
{
    if (kind_of_path(path) != path_kind::regular_file)
        return false;
    file_stream file = open_regular_file(path);
    if (!file)
        return false;
    char line[1100];
    if (std::fgets(line, sizeof line, file.get()) == nullptr)
        return false;
    const std::size_t start = sizeof source_line_start - 1;
    if (std::strncmp(line, source_line_start, start) != 0)
        return false;
    // The name runs to the line's last quote: it may hold quotes itself.
    const char* end = std::strrchr(line + start, '"');
    if (end == nullptr)
        return false;
    source_name.assign(line + start, static_cast<std::size_t>(end - (line + start)));
    return true;
}

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

// A .iso holds the 2048-byte user data of every sector, whatever the source
// mode; a raw .bin the source's own 2352-byte sectors.
const char* data_track_mode(const track_span& track, const track_format& format)
{
    if (!format.raw_data)
        return "MODE1/2048";
    return track.is_mode2 != 0 ? "MODE2/2352" : "MODE1/2352";
}

} // namespace

void write_emulator_sheet(std::FILE* file, const char* source_name, const cue_sheet& sheet,
                          const disc_layout& layout, const track_format& format)
{
    std::string line = source_line_start;
    line += source_name;
    line += '"';
    put_line(file, line.c_str());
    char text[96];
    for (std::int32_t number = 1; number <= layout.track_count; ++number) {
        const track_span& track = layout.tracks[number];
        const bool is_audio = track.is_audio != 0;
        std::snprintf(text, sizeof text, "FILE \"%s\" %s", name_track_file(number, is_audio, format).text,
                      is_audio ? "OGG" : "BINARY");
        put_line(file, text);
        std::snprintf(text, sizeof text, "  TRACK %02i %s", static_cast<int>(number),
                      is_audio ? "AUDIO" : data_track_mode(track, format));
        put_line(file, text);
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

#include "extract/toc_file.h"

#include "extract/output_names.h"

#include <cstring>

namespace {

void put(std::FILE* toc_file, const char* text) { std::fwrite(text, 1, std::strlen(text), toc_file); }

void put_msf(std::FILE* toc_file, std::int32_t frame_count)
{
    const msf_time t = to_msf(frame_count);
    char text[40];
    std::snprintf(text, sizeof text, "%2.2u:%2.2u:%2.2u\r\n", t.minutes, t.seconds, t.frames);
    put(toc_file, text);
}

} // namespace

void write_toc(std::FILE* toc_file, const disc_layout& layout, const track_format& format)
{
    put(toc_file, "Leadin\r\n");
    for (std::int32_t number = 1; number <= layout.track_count; ++number) {
        const track_span& track = layout.tracks[number];
        if (track.pregap_frames > 0) {
            put(toc_file, "Pregap: ");
            put_msf(toc_file, track.pregap_frames);
        }
        put(toc_file, name_track_file(number, track.is_audio != 0, format).text);
        put(toc_file, " ");
        put_msf(toc_file, track.length_sectors);
    }
    put(toc_file, "Leadout\r\n");
}

#include "cue/layout.h"

#include "app/diagnostics.h"

#include <cstdio>

namespace {

// The arithmetic of positions wraps as 32-bit two's complement, whatever the
// sheet holds, rather than overflowing.
std::int32_t wrapping_sub(std::int32_t a, std::int32_t b)
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b));
}

std::int32_t wrapping_add(std::int32_t a, std::int32_t b)
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}

// A last track that would end before it starts gets this many sectors.
constexpr std::int32_t fallback_last_length = 32;

void place_track(track_table& table, std::int32_t number, std::int32_t pregap_total)
{
    track_record& track = table.records[number];
    const std::int32_t count = table.track_count;
    if (number == count) {
        // The last track runs from the previous track's end to the end of the BIN.
        if (count > 1) {
            const track_record& previous = table.records[number - 1];
            const std::int32_t previous_end = wrapping_add(previous.start_sector, previous.length_sectors);
            track.length_sectors = wrapping_sub(track.length_sectors, previous_end);
        }
        if (track.length_sectors < 0)
            track.length_sectors = fallback_last_length;
        track.start_sector = wrapping_sub(track.index1_frame, pregap_total);
        return;
    }
    track.start_sector = number == 1 ? 0 : wrapping_sub(track.index1_frame, pregap_total);
    track.length_sectors = wrapping_sub(table.records[number + 1].index1_frame, track.index1_frame);
    // An audio track's own PREGAP is not part of its audio in the BIN.
    if (track.is_audio != 0 && track.pregap_frames > 0)
        track.length_sectors = wrapping_sub(track.length_sectors, track.pregap_frames);
}

void write_msf(std::FILE* toc_file, std::int32_t frame_count)
{
    const msf_time t = to_msf(frame_count);
    std::fprintf(toc_file, "%2.2u:%2.2u:%2.2u\r\n", t.minutes, t.seconds, t.frames);
}

// The TOC is written in binary with explicit CR LF, so its bytes are the
// same on every platform.
void write_track_lines(std::FILE* toc_file, std::int32_t number, const track_record& track)
{
    if (track.pregap_frames > 0) {
        std::fputs("Pregap: ", toc_file);
        write_msf(toc_file, track.pregap_frames);
    }
    std::fprintf(toc_file, track.is_audio != 0 ? "track%i.ogg " : "track%i.iso ", static_cast<int>(number));
    write_msf(toc_file, track.length_sectors);
}

} // namespace

msf_time to_msf(std::int32_t frame_count)
{
    const std::int32_t whole_seconds = frame_count / 75;
    const std::uint32_t seconds = static_cast<std::uint32_t>(whole_seconds);
    const std::uint32_t minutes = seconds / 60;
    return msf_time{minutes, seconds - minutes * 60,
                    static_cast<std::uint32_t>(frame_count) - seconds * 75};
}

file_stream create_toc_file(const run_paths& paths)
{
    char path[path_capacity];
    std::printf("Creating directory: %s\n\n", paths.out_name);
    if (format_output_dir(paths, path))
        make_directory(path);   // an existing directory is simply used

    std::printf("Creating file: %s.toc\n\n", paths.out_name);
    file_stream toc_file;
    if (format_toc_path(paths, path))
        toc_file = create_output_file(path);
    if (!toc_file)
        std::printf("Error creando TOC\n");
    return toc_file;
}

bool lay_out_tracks(track_table& table, std::FILE* toc_file)
{
    bool lengths_valid = true;
    std::fputs("Leadin\r\n", toc_file);
    std::int32_t pregap_total = 0;
    for (std::int32_t number = 1; number <= table.track_count; ++number) {
        place_track(table, number, pregap_total);
        const track_record& track = table.records[number];
        write_track_lines(toc_file, number, track);
        if (track.length_sectors < 0) {
            report_problem("track %i: length of %i sectors; the next track's INDEX does not lie far enough after this one's",
                         static_cast<int>(number), static_cast<int>(track.length_sectors));
            lengths_valid = false;
        }
        // An INDEX 00 means the gap is in the BIN: later tracks are not shifted.
        pregap_total = track.pregap_frames < 0 ? 0 : wrapping_add(pregap_total, track.pregap_frames);
    }
    std::fputs("Leadout\r\n", toc_file);
    return lengths_valid;
}

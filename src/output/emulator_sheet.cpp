#include "output/emulator_sheet.h"

#include "base/platform.h"
#include "output/output_names.h"
#include "output/split_record.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

constexpr char source_line_start[] = "REM SOURCE \"";

// A CUE sheet numbers its tracks in two digits: no reader takes TRACK 100.
constexpr std::int32_t max_sheet_tracks = 99;

// A REM SOURCE line holds a path of any length; a longer first line is no
// emulator sheet of this program.
constexpr std::size_t source_line_limit = std::size_t{1} << 20;

void put_line(std::string& lines, const std::string& text)
{
    lines += text;
    lines += "\r\n";
}

// The silence a reader is to put before the track's file. Track 1 starts at
// its INDEX 01, so the sectors before it are in no file: an audio track 1
// gets them as silence too, which keeps every later track where the source
// sheet has it. A data track 1 gets no gap at all, since DOSBox mounts no
// sheet whose data track 1 has one.
std::int64_t sheet_pregap_frames(const track_span& track, std::int32_t number)
{
    const std::int64_t pregap = std::max(track.pregap_frames, 0);
    if (number != 1)
        return pregap;
    return track.is_audio != 0 ? pregap + std::max(track.start_sector, 0) : 0;
}

// The sheet's CD-TEXT lines of one place (0: the disc), as they stand, in
// sheet order; REM GENRE and REM DATE are comments to CUE readers, and stay out.
void put_text_lines(std::string& lines, const cue_sheet& sheet, std::int32_t track, const char* indent)
{
    for (const sheet_text& text : sheet.texts) {
        if (text.track != track || text.field == text_field::genre || text.field == text_field::date)
            continue;
        put_line(lines, indent + text.line);
    }
}

// A .iso holds the 2048-byte user data of every sector, whatever the source
// mode; a raw .bin the source's own 2352-byte sectors.
const char* data_track_mode(std::int32_t number, const track_span& track, const track_format& format)
{
    if (!is_raw_track(number, format))
        return "MODE1/2048";
    return track.is_mode2 != 0 ? "MODE2/2352" : "MODE1/2352";
}

} // namespace

std::string emulator_sheet_text(const char* source_name, const cue_sheet& sheet, const disc_layout& layout,
                                const track_format& format)
{
    std::string lines;
    put_line(lines, source_line_start + std::string(source_name) + '"');
    put_text_lines(lines, sheet, 0, "");
    char text[96];
    for (std::int32_t number = 1; number <= layout.track_count; ++number) {
        const track_span& track = layout.tracks[number];
        const bool is_audio = track.is_audio != 0;
        // The source's sessions, for the readers that place a later session
        // after the lead-out and lead-in between them.
        const std::int32_t session = sheet.records[number].session;
        if (session != 0 && (number == 1 || session != sheet.records[number - 1].session)) {
            std::snprintf(text, sizeof text, "REM SESSION %02i", static_cast<int>(session));
            put_line(lines, text);
        }
        std::snprintf(text, sizeof text, "FILE \"%s\" %s", name_track_file(number, is_audio, format).text,
                      is_audio ? audio_type_word(format) : "BINARY");
        put_line(lines, text);
        std::snprintf(text, sizeof text, "  TRACK %02i %s", static_cast<int>(number),
                      is_audio ? "AUDIO" : data_track_mode(number, track, format));
        put_line(lines, text);
        put_text_lines(lines, sheet, number, "    ");
        if (sheet.records[number].flags[0] != '\0') {
            std::snprintf(text, sizeof text, "    FLAGS %s", sheet.records[number].flags);
            put_line(lines, text);
        }
        if (const std::int64_t pregap = sheet_pregap_frames(track, number); pregap > 0) {
            const msf_time t = to_msf(static_cast<std::int32_t>(std::min<std::int64_t>(pregap, INT32_MAX)));
            std::snprintf(text, sizeof text, "    PREGAP %2.2u:%2.2u:%2.2u", t.minutes, t.seconds, t.frames);
            put_line(lines, text);
        }
        put_line(lines, "    INDEX 01 00:00:00");
    }
    return lines;
}

bool read_sheet_source(const char* path, std::string& source_name)
{
    std::string head;
    if (kind_of_path(path) != path_kind::regular_file || !read_file_start(path, head, source_line_limit))
        return false;
    const std::size_t start = sizeof source_line_start - 1;
    const std::string line = head.substr(0, head.find('\n'));
    if (line.compare(0, start, source_line_start) != 0)
        return false;
    // The name runs to the line's last quote: it may hold quotes itself.
    const std::size_t end = line.rfind('"');
    if (end == std::string::npos || end < start)
        return false;
    source_name = line.substr(start, end - start);
    return true;
}

void write_companion_files(voice c, const output_folder& folder, const std::vector<companion_file>& companions)
{
    for (const companion_file& companion : companions) {
        output_file out;
        const std::string name = companion_file_name(*folder.paths, companion.extension);
        if (const int failure = open_output_file(out, folder, name.c_str())) {
            report(c, "cannot create %s: %s", out.final_path.c_str(), describe_open_failure(failure));
            continue;
        }
        std::fwrite(companion.bytes.data(), 1, companion.bytes.size(), out.stream.get());
        if (commit_output_file(c, out) && folder.journal != nullptr) {
            recorded_output entry = output_entry(folder, name);
            entry.hashed = true;
            entry.hash = out.hash;
            journal_output(folder, entry);
        }
    }
}

void remove_emulator_sheet(const output_folder& folder)
{
    remove_output_file(folder, emulator_sheet_file_name(*folder.paths).c_str());
}

bool write_emulator_sheet_file(voice c, const output_folder& folder, const char* source_name, const cue_sheet& sheet,
                               const disc_layout& layout, const track_format& format,
                               const std::vector<track_fitness>& fitness)
{
    const std::string name = emulator_sheet_file_name(*folder.paths);
    if (layout.track_count > max_sheet_tracks) {
        report(c, "%s not written: the disc has %i tracks, and a CUE sheet holds at most %i", name.c_str(),
               static_cast<int>(layout.track_count), static_cast<int>(max_sheet_tracks));
        remove_emulator_sheet(folder);
        return false;
    }
    for (std::int32_t number = 1; number <= layout.track_count; ++number) {
        const track_fitness& track = fitness[static_cast<std::size_t>(number)];
        if (track.fit)
            continue;
        if (track.why != nullptr) {
            const track_file_name file = name_track_file(number, layout.tracks[number].is_audio != 0, format);
            report(c, "%s not written: %s %s", name.c_str(), file.text, track.why);
        }
        remove_emulator_sheet(folder);
        return false;
    }
    output_file out;
    if (const int failure = open_output_file(out, folder, name.c_str())) {
        report(c, "cannot create %s: %s", out.final_path.c_str(), describe_open_failure(failure));
        remove_emulator_sheet(folder);
        return false;
    }
    const std::string text = emulator_sheet_text(source_name, sheet, layout, format);
    std::fwrite(text.data(), 1, text.size(), out.stream.get());
    if (!commit_output_file(c, out)) {
        remove_emulator_sheet(folder);   // reported; an older sheet must not stand for these tracks
        return false;
    }
    if (folder.journal != nullptr) {
        recorded_output entry = output_entry(folder, name);
        entry.hashed = true;
        entry.hash = out.hash;
        journal_output(folder, entry);
    }
    return true;
}

#include "output/toc_file.h"

#include "output/output_names.h"
#include "output/split_record.h"

#include <cerrno>
#include <cstring>
#include <string>

namespace {

void report_backward_tracks(voice c, const disc_layout& layout)
{
    for (std::int32_t number = 1; number <= layout.track_count; ++number) {
        const std::int32_t length = layout.tracks[number].length_sectors;
        if (length < 0)
            report(c, "track %i: length of %i sectors; the next track's INDEX does not lie far enough after this one's",
                   static_cast<int>(number), static_cast<int>(length));
    }
}

// A hidden track lies between track 1's PREGAP and its INDEX 01: the lines
// keep the disc's order, the PREGAP before the first track file.
std::int32_t pregap_before(const disc_layout& layout, std::int32_t number)
{
    if (number == first_track_file(layout))
        return layout.tracks[1].pregap_frames;
    return number == 1 ? 0 : layout.tracks[number].pregap_frames;
}

void put_msf(std::string& toc, std::int32_t frame_count)
{
    const msf_time t = to_msf(frame_count);
    char text[40];
    std::snprintf(text, sizeof text, "%2.2u:%2.2u:%2.2u\r\n", t.minutes, t.seconds, t.frames);
    toc += text;
}

} // namespace

std::string toc_text(const disc_layout& layout, const track_format& format)
{
    std::string toc = "Leadin\r\n";
    for (std::int32_t number = first_track_file(layout); number <= layout.track_count; ++number) {
        const track_span& track = layout.tracks[number];
        if (const std::int32_t pregap = pregap_before(layout, number); pregap > 0) {
            toc += "Pregap: ";
            put_msf(toc, pregap);
        }
        toc += name_track_file(number, track.is_audio != 0, format).text;
        toc += ' ';
        put_msf(toc, track.length_sectors);
    }
    return toc + "Leadout\r\n";
}

void write_toc(std::FILE* toc_file, const disc_layout& layout, const track_format& format)
{
    const std::string text = toc_text(layout, format);
    std::fwrite(text.data(), 1, text.size(), toc_file);
}

bool write_toc_file(voice c, const output_folder& folder, const folder_claim& claim, const disc_layout& layout,
                    const track_format& format)
{
    const std::string name = toc_file_name(*folder.paths);
    say(c, "Creating file: %s\n\n", name.c_str());
    const std::string advice = writable_folder_advice(folder.naming);
    if (claim.unmade == EEXIST) {
        stop(c, "Error creando TOC\n");
        report(c, "cannot create the folder %s: a file has that name; move the file, or %s",
               output_dir_path(*folder.paths).c_str(), advice.c_str());
        return false;
    }
    if (claim.unmade != 0) {
        stop(c, "Error creando TOC\n");
        report(c, "cannot create the folder %s: %s; %s", claim.unmade_path.c_str(), std::strerror(claim.unmade),
               advice.c_str());
        return false;
    }
    output_file toc;
    if (const int failure = open_output_file(toc, folder, name.c_str())) {
        stop(c, "Error creando TOC\n");
        report(c, "cannot create %s: %s; %s", toc.final_path.c_str(), describe_open_failure(failure), advice.c_str());
        return false;
    }
    write_toc(toc.stream.get(), layout, format);
    report_backward_tracks(c, layout);
    // A failure is reported; the track files do not depend on the TOC.
    if (commit_output_file(c, toc) && folder.journal != nullptr) {
        recorded_output entry = output_entry(folder, name);
        entry.hashed = true;
        entry.hash = toc.hash;
        journal_output(folder, entry);
    }
    return true;
}

void rewrite_toc_file(voice c, const output_folder& folder, const disc_layout& layout, const track_format& format)
{
    const std::string name = toc_file_name(*folder.paths);
    output_file toc;
    if (const int failure = open_output_file(toc, folder, name.c_str())) {
        report(c, "cannot create %s: %s", toc.final_path.c_str(), describe_open_failure(failure));
        return;
    }
    write_toc(toc.stream.get(), layout, format);
    commit_output_file(c, toc);
}

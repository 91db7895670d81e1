#include "app/run.h"

#include "base/paths.h"
#include "base/platform.h"
#include "cue/cue_reader.h"
#include "cue/layout.h"
#include "cue/virtual_bin.h"
#include "extract/toc_file.h"
#include "extract/track_writer.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

void print_usage(console& c)
{
    say(c, "trackcarve 1.0 - splits a CD image into one file per track, by the trackcarve developers");
    say(c, "\n\n Use:\n\n      trackcarve file.cue\n");
    say(c, "\n");
}

// Opens the BIN a FILE line names, beside the sheet, only to size it: the
// track writers open it again, so no more than a few files are ever open.
std::int64_t size_bin_file(const run_paths& paths, const char* name)
{
    char path[path_capacity];
    const int length = std::snprintf(path, sizeof path, "%s%s", paths.cue_dir, name);
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof path)
        return -1;
    file_stream file = open_regular_file(path);
    if (!file)
        return -1;
    const std::int64_t size = file_size(file.get());
    return size < 0 ? 0 : size;
}

void report_backward_tracks(console& c, const disc_layout& layout)
{
    for (std::int32_t number = 1; number <= layout.track_count; ++number) {
        const std::int32_t length = layout.tracks[number].length_sectors;
        if (length < 0)
            report(c, "track %i: length of %i sectors; the next track's INDEX does not lie far enough after this one's",
                   static_cast<int>(number), static_cast<int>(length));
    }
}

// Creates the output directory (an existing one is used) and writes the TOC
// in it. False when the TOC could not be created: the run ends there.
bool write_toc_file(console& c, const run_paths& paths, const disc_layout& layout)
{
    char path[path_capacity];
    say(c, "Creating directory: %s\n\n", paths.out_name);
    if (format_output_dir(paths, path))
        make_directory(path);

    say(c, "Creating file: %s.toc\n\n", paths.out_name);
    file_stream toc_file;
    if (format_toc_path(paths, path))
        toc_file = create_output_file(path);
    if (!toc_file) {
        stop(c, "Error creando TOC\n");
        return false;
    }
    write_toc(toc_file.get(), layout);
    report_backward_tracks(c, layout);
    if (!close_file(toc_file))
        report(c, "cannot write %s: %s", path, std::strerror(errno));
    return true;
}

// The bytes of a BIN file's incomplete last sector belong to no track.
void report_incomplete_sectors(console& c, const std::vector<bin_file_entry>& bin_files)
{
    for (const bin_file_entry& file : bin_files) {
        const auto tail_bytes = static_cast<long long>(file.size_bytes % raw_sector_size);
        if (tail_bytes == 0)
            continue;
        if (bin_files.size() == 1)
            report(c, "the BIN ends in %lld bytes of an incomplete sector, which no track takes", tail_bytes);
        else
            report(c, "%s ends in %lld bytes of an incomplete sector, which no track takes", file.name.c_str(),
                   tail_bytes);
    }
}

void extract_all_tracks(console& c, const run_paths& paths, const cue_sheet& sheet, const disc_layout& layout)
{
    // A sheet in an encoding the reader cannot see commands in (UTF-16, say)
    // reads as no tracks at all: say so rather than end as if all went well.
    if (layout.track_count == 0) {
        report(c, "the sheet lists no track; no track file written");
        return;
    }
    if (sheet.bin_files.empty()) {
        report(c, "the sheet names no BIN file; no track file written");
        return;
    }
    report_incomplete_sectors(c, sheet.bin_files);

    const virtual_bin bin = make_virtual_bin(sheet, paths.cue_dir);
    bin_reader reader;
    reader.bin = &bin;
    // Working memory for the whole run, taken once, outside the copy loops.
    const auto buffer = std::make_unique<track_buffer>();
    for (std::int32_t number = 1; number <= layout.track_count; ++number)
        extract_track(c, paths, number, layout.tracks[number], reader, *buffer);
}

void run_sheet(console& c, const char* cue_path)
{
    run_paths paths;
    if (!derive_paths(cue_path, paths)) {
        stop(c, "Error!! path too long\n");
        return;
    }
    say(c, "Open file %s\n\n", base_name(cue_path));
    file_stream cue_file = open_regular_file(cue_path);
    if (!cue_file) {
        stop(c, "Error abriendo CUE\n");
        return;
    }
    const cue_read read =
        read_cue_sheet(cue_file.get(), [&paths](const char* name) { return size_bin_file(paths, name); });
    for (const std::string& notice : read.sheet.notices)
        report(c, "%s", notice.c_str());
    if (!read.ok) {
        stop(c, "Error!! line %i %s\n", read.error.line_number, read.error.message.c_str());
        return;
    }

    const disc_layout layout = lay_out_tracks(read.sheet);
    if (!write_toc_file(c, paths, layout))
        return;
    cue_file.reset();
    extract_all_tracks(c, paths, read.sheet, layout);
    say(c, "Done\n");
}

} // namespace

int run_trackcarve(console& c, int argc, char** argv)
{
    if (argc <= 1) {
        print_usage(c);
        wait_for_key();
    } else {
        run_sheet(c, argv[1]);
    }
    return finish(c);
}

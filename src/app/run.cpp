#include "app/run.h"

#include "app/command_line.h"
#include "app/track_pool.h"
#include "base/paths.h"
#include "base/platform.h"
#include "base/temporary_files.h"
#include "cue/cue_reader.h"
#include "cue/layout.h"
#include "cue/virtual_bin.h"
#include "extract/emulator_sheet.h"
#include "extract/output_file.h"
#include "extract/toc_file.h"
#include "extract/output_names.h"
#include "extract/track_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

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

// The files the run reads, by what their names hold and what they lead to:
// no output may replace one of them.
std::vector<file_identity> input_files(const char* cue_path, const run_paths& paths, const cue_sheet& sheet)
{
    std::vector<file_identity> inputs;
    const auto add = [&inputs](const std::string& path) {
        for (const bool follow : {false, true})
            if (const file_identity identity = identify_file(path.c_str(), follow); identity.known)
                inputs.push_back(identity);
    };
    add(cue_path);
    for (const bin_file_entry& file : sheet.bin_files)
        add(std::string(paths.cue_dir) + file.name);
    return inputs;
}

// The sheet's name as the emulator sheet records it: on one line.
std::string source_name_of(const char* cue_path)
{
    std::string name = base_name(cue_path);
    for (char& c : name)
        if (static_cast<unsigned char>(c) < 32)
            c = '?';
    return name;
}

// Another sheet whose name gives the same folder must not overwrite the
// tracks of the first: its emulator sheet says whose they are.
bool folder_belongs_to_another_sheet(console& c, const run_paths& paths, const char* cue_path)
{
    char path[path_capacity];
    std::string owner;
    if (!format_output_path(paths, emulator_sheet_file_name(paths).c_str(), path) || !read_sheet_source(path, owner))
        return false;
    if (same_file_name(owner.c_str(), source_name_of(cue_path).c_str()))
        return false;
    char dir[path_capacity];
    format_output_dir(paths, dir);
    report(c, "%s holds the tracks of another sheet, \"%s\"; nothing was overwritten", dir, owner.c_str());
    return true;
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

// Makes the output directory the run's own: creates it (an existing one is
// used, unless another sheet's tracks are in it) and clears it of the
// temporaries that killed runs left. False when the run ends there.
bool claim_output_folder(console& c, const output_folder& folder, const char* cue_path)
{
    const run_paths& paths = *folder.paths;
    char dir[path_capacity] = {};
    say(c, "Creating directory: %s\n\n", paths.out_name);
    if (format_output_dir(paths, dir))
        make_directory(dir);
    if (folder_belongs_to_another_sheet(c, paths, cue_path))
        return false;
    remove_stale_temporaries(dir);
    return true;
}

// Writes NAME.toc. False when it cannot even be created, which ends the run;
// a TOC that cannot be put in place is reported, and the tracks are still
// written, as they do not depend on it.
bool write_toc_file(console& c, const output_folder& folder, const disc_layout& layout, const track_format& format)
{
    const std::string name = toc_file_name(*folder.paths);
    say(c, "Creating file: %s\n\n", name.c_str());
    output_file toc;
    if (const int failure = open_output_file(toc, folder, name.c_str())) {
        stop(c, "Error creando TOC\n");
        report(c, "cannot create %s: %s", toc.final_path, describe_open_failure(failure));
        return false;
    }
    write_toc(toc.stream.get(), layout, format);
    report_backward_tracks(c, layout);
    if (!commit_output_file(c, toc)) {
        // Reported. The track files do not depend on the TOC: they are still written.
    }
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

// Why the emulator sheet cannot point at this track's file; null if it can.
const char* unfit_for_sheet(const track_outcome& outcome, const track_span& track)
{
    if (!outcome.written)
        return "could not be written";
    if (track.length_sectors <= 0)
        return "holds no sector";
    return outcome.complete ? nullptr : "was padded or cut where the BIN ended";
}

// Removes the emulator sheet an earlier run left: this run's tracks are not
// fit for one, and no sheet may point at a broken disc or another run's files.
void remove_emulator_sheet(const output_folder& folder)
{
    remove_output_file(folder, emulator_sheet_file_name(*folder.paths).c_str());
}

// Writes the emulator sheet when every track file is whole; else removes one
// an earlier run left.
void write_emulator_sheet_file(console& c, const output_folder& folder, const char* cue_path, const cue_sheet& sheet,
                               const disc_layout& layout, const track_format& format,
                               const std::vector<track_outcome>& outcomes)
{
    const std::string name = emulator_sheet_file_name(*folder.paths);
    for (std::int32_t number = 1; number <= layout.track_count; ++number) {
        const char* why = unfit_for_sheet(outcomes[static_cast<std::size_t>(number)], layout.tracks[number]);
        if (why == nullptr)
            continue;
        report(c, "%s not written: %s %s", name.c_str(), name_track_file(number, layout.tracks[number].is_audio != 0, format).text, why);
        remove_emulator_sheet(folder);
        return;
    }
    output_file out;
    if (const int failure = open_output_file(out, folder, name.c_str())) {
        report(c, "cannot create %s: %s", out.final_path, describe_open_failure(failure));
        remove_emulator_sheet(folder);
        return;
    }
    write_emulator_sheet(out.stream.get(), source_name_of(cue_path).c_str(), sheet, layout, format);
    if (!commit_output_file(c, out))
        remove_emulator_sheet(folder);   // reported; an older sheet must not stand for these tracks
}

// One sheet's run, shared by its part before the tracks and its part after
// them, which may run on different threads. It lives from the sheet's first
// line until its last file is written; whatever the run holds open in its
// output folder until then belongs here.
struct sheet_run {
    run_paths paths{};
    cue_sheet sheet;
    disc_layout layout{};
    output_folder folder;
    virtual_bin bin;
    bool says_done = false;    // the run got past the TOC: it ends in "Done"
    bool has_tracks = false;   // and has track files to write, then the emulator sheet
};

// Whether the sheet gives any track file to write; says why not. Makes the
// virtual BIN the tracks are cut from.
bool find_tracks_to_write(console& c, sheet_run& run)
{
    // A sheet in an encoding the reader cannot see commands in (UTF-16, say)
    // reads as no tracks at all: say so rather than end as if all went well.
    if (run.layout.track_count == 0) {
        report(c, "the sheet lists no track; no track file written");
        remove_emulator_sheet(run.folder);
        return false;
    }
    if (run.sheet.bin_files.empty()) {
        report(c, "the sheet names no BIN file; no track file written");
        remove_emulator_sheet(run.folder);
        return false;
    }
    report_incomplete_sectors(c, run.sheet.bin_files);
    run.bin = make_virtual_bin(run.sheet, run.paths.cue_dir);
    run.has_tracks = true;
    return true;
}

// The part of a sheet's run before its tracks: reads the sheet, claims the
// output folder, writes the TOC. Returns the tracks to write: none when the
// run ends here, or has no track file to write.
sheet_tracks begin_sheet(console& c, sheet_run& run, temporary_files& temporaries, const char* cue_path,
                         const run_options& options)
{
    if (!derive_paths(cue_path, run.paths)) {
        stop(c, "Error!! path too long\n");
        return {};
    }
    say(c, "Open file %s\n\n", base_name(cue_path));
    file_stream cue_file = open_regular_file(cue_path);
    if (!cue_file) {
        stop(c, "Error abriendo CUE\n");
        return {};
    }
    cue_read read =
        read_cue_sheet(cue_file.get(), [&run](const char* name) { return size_bin_file(run.paths, name); });
    for (const std::string& notice : read.sheet.notices)
        report(c, "%s", notice.c_str());
    if (!read.ok) {
        stop(c, "Error!! line %i %s\n", read.error.line_number, read.error.message.c_str());
        return {};
    }
    run.sheet = std::move(read.sheet);

    run.layout = lay_out_tracks(run.sheet);
    run.folder = output_folder{&run.paths, &temporaries, input_files(cue_path, run.paths, run.sheet)};
    if (!claim_output_folder(c, run.folder, cue_path) || !write_toc_file(c, run.folder, run.layout, options.format))
        return {};
    cue_file.reset();
    run.says_done = true;
    if (!find_tracks_to_write(c, run))
        return {};
    return sheet_tracks{&run.folder, options.format, &run.bin, &run.layout};
}

// The part after the tracks: the emulator sheet, then "Done".
void end_sheet(console& c, const sheet_run& run, const char* cue_path, const run_options& options,
               const std::vector<track_outcome>& outcomes)
{
    if (run.has_tracks)
        write_emulator_sheet_file(c, run.folder, cue_path, run.sheet, run.layout, options.format, outcomes);
    if (run.says_done)
        say(c, "Done\n");
}

// A directory by what it is, when it is there; else by its name.
bool same_directory(const char* a, const char* b)
{
    if (same_file_name(a, b))
        return true;
    const file_identity first = identify_file(*a == '\0' ? "." : a, true);
    return first.known && first == identify_file(*b == '\0' ? "." : b, true);
}

// Two sheets of one call run one after the other when one writes where the
// other writes (the same output folder: the ownership check must see the
// first one's emulator sheet) or reads (an output folder that holds the
// other's sheet and BINs). Folders are compared with a separator at the end,
// as cue_dir has one.
bool sheets_take_turns(const char* first_cue, const char* second_cue)
{
    run_paths first{};
    run_paths second{};
    char first_out[path_capacity];
    char second_out[path_capacity];
    if (!derive_paths(first_cue, first) || !derive_paths(second_cue, second) ||
        !format_output_path(first, "", first_out) || !format_output_path(second, "", second_out))
        return false;
    return (same_file_name(first.out_name, second.out_name) && same_directory(first.cue_dir, second.cue_dir)) ||
           same_directory(first_out, second.cue_dir) || same_directory(first.cue_dir, second_out);
}

} // namespace

int run_trackcarve(console& c, int argc, char** argv)
{
    const command_line line = parse_command_line(argc, argv);
    const int cpus = std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
    switch (line.what) {
    case command_line::request::mistake:
        report(c, "%s\nTry 'trackcarve --help'", line.mistake.c_str());
        return 2;
    case command_line::request::help:
        print_help(c, cpus);
        return finish(c);
    case command_line::request::version:
        print_version(c);
        return finish(c);
    case command_line::request::usage:
        print_usage(c);
        wait_for_key();
        return finish(c);
    case command_line::request::split:
        break;
    }

    // An interrupted run leaves no temporary behind, and a reader that goes
    // away (a closed pipe, or no standard output at all) costs the dialogue
    // only: every track is written, and none of them takes the dialogue.
    hold_standard_descriptors();
    temporary_files temporaries;
    const interrupt_watch watch([&temporaries] { remove_temporaries(temporaries); });
    ignore_broken_pipe();
    c.show_progress = is_terminal(c.err);
    // Each sheet is run as if it were the only one; the writers are shared.
    std::vector<std::unique_ptr<sheet_run>> runs(line.sheets.size());
    const sheet_steps steps{
        [&](console& said, std::size_t sheet) {
            runs[sheet] = std::make_unique<sheet_run>();
            return begin_sheet(said, *runs[sheet], temporaries, line.sheets[sheet], line.options);
        },
        [&](console& said, std::size_t sheet, const std::vector<track_outcome>& outcomes) {
            end_sheet(said, *runs[sheet], line.sheets[sheet], line.options, outcomes);
            runs[sheet].reset();   // with what it holds open
        },
        [&](std::size_t first, std::size_t second) {
            return sheets_take_turns(line.sheets[first], line.sheets[second]);
        },
    };
    return run_sheets(c, line.sheets.size(), line.options.jobs > 0 ? line.options.jobs : cpus, steps);
}

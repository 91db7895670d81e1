#include "app/run.h"

#include "app/command_line.h"
#include "app/disc_playlist.h"
#include "app/sheet_report.h"
#include "app/track_pool.h"
#include "base/paths.h"
#include "base/platform.h"
#include "base/temporary_files.h"
#include "cue/cue_reader.h"
#include "cue/layout.h"
#include "cue/virtual_bin.h"
#include "extract/audio_tags.h"
#include "extract/emulator_sheet.h"
#include "extract/folder_owner.h"
#include "extract/output_file.h"
#include "extract/toc_file.h"
#include "extract/output_names.h"
#include "extract/track_writer.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
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

// A name on one line, as the emulator sheet and the messages give it.
std::string printable_name(const char* name)
{
    std::string text = name;
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 32)
            c = '?';
    return text;
}

// The sheet as its output folder's owner: its file name, or where the output
// folder is not beside it (-o), its full path, as sheets of one name from
// several folders may share an output folder there.
std::string owner_name_of(const char* cue_path, const run_paths& paths)
{
    const bool beside = std::strcmp(paths.out_parent, paths.cue_dir) == 0;
    return beside ? std::string(base_name(cue_path)) : full_path(cue_path);
}

// The sheet's name as the emulator sheet records it: on one line.
std::string source_name_of(const char* cue_path, const run_paths& paths)
{
    return printable_name(owner_name_of(cue_path, paths).c_str());
}

void report_folder_of_another_sheet(track_voice c, const run_paths& paths, const std::string& owner)
{
    char dir[path_capacity];
    format_output_dir(paths, dir);
    report(c, "%s holds the tracks of another sheet, \"%s\"; nothing was overwritten "
              "(-o DIR or --full-names gives this sheet a folder of its own)",
           dir, printable_name(owner.c_str()).c_str());
}

// Another sheet whose name gives the same folder must not overwrite the
// tracks of the first. The owner record says whose they are, byte for byte;
// a folder an earlier version wrote has only its emulator sheet's REM SOURCE
// line, which holds the name in printable form. `recorded`: the folder has
// an owner record.
bool folder_belongs_to_another_sheet(track_voice c, const run_paths& paths, const char* cue_path, bool& recorded)
{
    std::string owner;
    std::string own_name;
    char path[path_capacity];
    recorded = read_folder_owner(paths, owner);
    if (recorded)
        own_name = owner_name_of(cue_path, paths);
    else if (format_output_path(paths, emulator_sheet_file_name(paths).c_str(), path) && read_sheet_source(path, owner))
        own_name = source_name_of(cue_path, paths);
    else
        return false;
    if (same_file_name(owner.c_str(), own_name.c_str()))
        return false;
    report_folder_of_another_sheet(c, paths, owner);
    return true;
}

void report_backward_tracks(track_voice c, const disc_layout& layout)
{
    for (std::int32_t number = 1; number <= layout.track_count; ++number) {
        const std::int32_t length = layout.tracks[number].length_sectors;
        if (length < 0)
            report(c, "track %i: length of %i sectors; the next track's INDEX does not lie far enough after this one's",
                   static_cast<int>(number), static_cast<int>(length));
    }
}

// The output folder as a run holds it, from its claim to its last file.
struct folder_claim {
    folder_lock lock;   // no other run writes in the folder meanwhile
    int unmade = 0;     // errno: why the folder could not be made; the TOC's step tells it
};

// The lock of an output folder that is there already, to wait for a run
// writing in it; none for a folder that is missing or a symbolic link.
folder_lock lock_existing_folder(const run_paths& paths)
{
    char dir[path_capacity];
    if (!format_output_dir(paths, dir) || kind_of_path(dir) != path_kind::directory || is_symbolic_link(dir))
        return {};
    return lock_folder(dir, folder_lock_file_name());
}

// Makes the output directory the run's own: creates it (an existing one is
// used, unless another sheet's tracks are in it or its name is a symbolic
// link), waits for any other run there to end, records the sheet as its
// owner if it has none, and clears it of the temporaries that killed runs
// left. False when the run ends there.
bool claim_output_folder(track_voice c, const output_folder& folder, const char* cue_path, folder_claim& claim)
{
    const run_paths& paths = *folder.paths;
    char dir[path_capacity] = {};
    say(c, "Creating directory: %s\n\n", paths.out_name);
    if (format_output_dir(paths, dir) && !make_directory(dir) && errno != EEXIST)
        claim.unmade = errno;
    if (claim.unmade != 0)
        return true;
    // Its tracks would land in the folder it leads to, another sheet's perhaps.
    if (is_symbolic_link(dir)) {
        report(c, "%s is a symbolic link; nothing was written through it", dir);
        return false;
    }
    // A file at the name: the TOC's step tells it.
    if (kind_of_path(dir) != path_kind::directory)
        return true;
    if (!claim.lock.held())
        claim.lock = lock_folder(dir, folder_lock_file_name());
    bool recorded = false;
    if (folder_belongs_to_another_sheet(c, paths, cue_path, recorded))
        return false;
    remove_stale_temporaries(dir);
    if (!recorded)
        write_folder_owner(c, folder, owner_name_of(cue_path, paths).c_str());
    return true;
}

// Writes NAME.toc. False when it cannot even be created, which ends the run;
// a TOC that cannot be put in place is reported, and the tracks are still
// written, as they do not depend on it.
bool write_toc_file(track_voice c, const output_folder& folder, const folder_claim& claim, const disc_layout& layout,
                    const track_format& format)
{
    const std::string name = toc_file_name(*folder.paths);
    say(c, "Creating file: %s\n\n", name.c_str());
    if (claim.unmade != 0) {
        char dir[path_capacity];
        format_output_dir(*folder.paths, dir);
        stop(c, "Error creando TOC\n");
        report(c, "cannot create %s: %s", dir, std::strerror(claim.unmade));
        return false;
    }
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
void report_incomplete_sectors(track_voice c, const std::vector<bin_file_entry>& bin_files)
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

// An .iso that lost the Form 2 part of XA sectors would not play the disc as
// the source does. The writer's line that said so is the run's one word on
// it: the sheet is withheld without another.
bool lost_xa_form2(const track_outcome& outcome) { return outcome.written && outcome.xa_form2_sectors > 0; }

// Removes the emulator sheet an earlier run left: this run's tracks are not
// fit for one, and no sheet may point at a broken disc or another run's files.
void remove_emulator_sheet(const output_folder& folder)
{
    remove_output_file(folder, emulator_sheet_file_name(*folder.paths).c_str());
}

// A CUE sheet numbers its tracks in two digits: no reader takes TRACK 100.
constexpr std::int32_t max_sheet_tracks = 99;

// Writes the emulator sheet when every track file is whole; else, or when it
// cannot be written, removes one an earlier run left. True when it is in place.
bool write_emulator_sheet_file(track_voice c, const output_folder& folder, const char* cue_path, const cue_sheet& sheet,
                               const disc_layout& layout, const track_format& format,
                               const std::vector<track_outcome>& outcomes)
{
    const std::string name = emulator_sheet_file_name(*folder.paths);
    if (layout.track_count > max_sheet_tracks) {
        report(c, "%s not written: the disc has %i tracks, and a CUE sheet holds at most %i", name.c_str(),
               static_cast<int>(layout.track_count), static_cast<int>(max_sheet_tracks));
        remove_emulator_sheet(folder);
        return false;
    }
    for (std::int32_t number = 1; number <= layout.track_count; ++number) {
        const track_outcome& outcome = outcomes[static_cast<std::size_t>(number)];
        if (lost_xa_form2(outcome)) {
            remove_emulator_sheet(folder);
            return false;
        }
        const char* why = unfit_for_sheet(outcome, layout.tracks[number]);
        if (why == nullptr)
            continue;
        const track_file_name file = name_track_file(number, layout.tracks[number].is_audio != 0, format);
        report(c, "%s not written: %s %s", name.c_str(), file.text, why);
        remove_emulator_sheet(folder);
        return false;
    }
    output_file out;
    if (const int failure = open_output_file(out, folder, name.c_str())) {
        report(c, "cannot create %s: %s", out.final_path, describe_open_failure(failure));
        remove_emulator_sheet(folder);
        return false;
    }
    write_emulator_sheet(out.stream.get(), source_name_of(cue_path, *folder.paths).c_str(), sheet, layout, format);
    if (!commit_output_file(c, out)) {
        remove_emulator_sheet(folder);   // reported; an older sheet must not stand for these tracks
        return false;
    }
    return true;
}

// The size of a file of the output folder; -1 when it has none by that name.
std::int64_t output_file_size(const run_paths& paths, const char* name)
{
    char path[path_capacity];
    file_stream file;
    if (format_output_path(paths, name, path))
        file = open_regular_file(path);
    return file ? file_size(file.get()) : -1;
}

// Each track's file for the report: its size where the run put it in place
// (written[n] for track n; null when all of them are in place).
void record_tracks(sheet_record& record, const run_paths& paths, const disc_layout& layout,
                   const track_format& format, const std::vector<track_outcome>* written)
{
    record.tracks.clear();
    for (std::int32_t number = 1; number <= layout.track_count; ++number) {
        const track_span& track = layout.tracks[number];
        track_entry entry;
        entry.number = number;
        entry.file = name_track_file(number, track.is_audio != 0, format).text;
        entry.is_audio = track.is_audio != 0;
        entry.sectors = std::max(track.length_sectors, 0);
        if (written == nullptr || (*written)[static_cast<std::size_t>(number)].written)
            entry.bytes = output_file_size(paths, entry.file.c_str());
        record.tracks.push_back(entry);
    }
}

// Track 1 starts at its INDEX 01, so the sectors before it are in no track
// file: silence there is no loss, audio (a hidden track) is.
void report_audio_before_track_one(track_voice c, const virtual_bin& bin, const disc_layout& layout)
{
    const track_span& first = layout.tracks[1];
    if (first.is_audio == 0 || first.start_sector <= 0)
        return;
    bin_reader reader;
    reader.bin = &bin;
    if (holds_nonzero_byte(reader, 0, std::int64_t{first.start_sector} * raw_sector_size))
        report(c, "the %i sectors before track 1's INDEX 01 hold audio, which no track file keeps",
               static_cast<int>(first.start_sector));
}

// Every output the split made is a regular file written after the last
// change to any of its inputs.
bool outputs_are_newer(const run_paths& paths, const std::vector<std::string>& outputs, std::int64_t inputs_time)
{
    for (const std::string& name : outputs) {
        char path[path_capacity];
        std::int64_t time = 0;
        if (!format_output_path(paths, name.c_str(), path) || kind_of_path(path) != path_kind::regular_file ||
            !modification_time(path, time) || time <= inputs_time)
            return false;
    }
    return true;
}

// The latest change to the sheet or a BIN it names; false when one is missing.
bool latest_input_time(const char* cue_path, const run_paths& paths, const cue_sheet& sheet, std::int64_t& latest)
{
    if (!modification_time(cue_path, latest))
        return false;
    for (const bin_file_entry& file : sheet.bin_files) {
        std::int64_t time = 0;
        if (!modification_time((std::string(paths.cue_dir) + file.name).c_str(), time))
            return false;
        latest = std::max(latest, time);
    }
    return true;
}

// --skip-done: the sheet's output folder holds its emulator sheet, naming
// it; that sheet's FILE lines are the track files this run would write; they,
// the emulator sheet and the TOC all exist and are newer than the sheet and
// every BIN it names. Reads the sheet without a word: anything amiss in it
// is told by the run that follows.
bool split_is_done(const char* cue_path, const run_paths& paths, const track_format& format, sheet_record& record)
{
    file_stream cue_file = open_regular_file(cue_path);
    if (!cue_file)
        return false;
    const cue_read read =
        read_cue_sheet(cue_file.get(), [&paths](const char* name) { return size_bin_file(paths, name); });
    cue_file.reset();
    const std::string sheet_name = emulator_sheet_file_name(paths);
    char sheet_path[path_capacity];
    std::string owner;
    std::vector<std::string> files;
    if (!read.ok || read.sheet.bin_files.empty() || !format_output_path(paths, sheet_name.c_str(), sheet_path) ||
        !read_sheet_source(sheet_path, owner) ||
        !same_file_name(owner.c_str(), source_name_of(cue_path, paths).c_str()) || !read_sheet_files(sheet_path, files))
        return false;
    const disc_layout layout = lay_out_tracks(read.sheet);
    std::vector<std::string> expected;
    for (std::int32_t number = 1; number <= layout.track_count; ++number)
        expected.emplace_back(name_track_file(number, layout.tracks[number].is_audio != 0, format).text);
    std::int64_t inputs_time = 0;
    if (expected.empty() || files != expected || !latest_input_time(cue_path, paths, read.sheet, inputs_time))
        return false;
    files.push_back(sheet_name);
    files.push_back(toc_file_name(paths));
    if (!outputs_are_newer(paths, files, inputs_time))
        return false;
    record_tracks(record, paths, layout, format, nullptr);
    return true;
}

void say_skipped(track_voice c, const run_paths& paths, const char* cue_path)
{
    char dir[path_capacity] = {};
    format_output_dir(paths, dir);
    say(c, "Skipping %s: its split in %s is complete and newer than its files\n", base_name(cue_path), dir);
}

// One sheet's run, shared by its part before the tracks and its part after
// them, which may run on different threads. It lives from the sheet's first
// line until its last file is written, with the folder's lock and whatever
// else the run holds in its output folder until then.
struct sheet_run {
    run_paths paths{};
    cue_sheet sheet;
    disc_layout layout{};
    output_folder folder;
    folder_claim claim;
    virtual_bin bin;
    std::vector<track_comments> comments;
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    bool says_done = false;    // the run got past the TOC: it ends in "Done"
    bool has_tracks = false;   // and has track files to write, then the emulator sheet
};

// Whether the sheet gives any track file to write; says why not. Makes the
// virtual BIN the tracks are cut from and their tags.
bool find_tracks_to_write(track_voice c, sheet_run& run)
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
    report_audio_before_track_one(c, run.bin, run.layout);
    run.comments = comments_for_disc(run.sheet);
    run.has_tracks = true;
    return true;
}

output_naming naming_of(const run_options& options)
{
    return output_naming{options.output_dir.c_str(), options.full_names};
}

// The part of a sheet's run before its tracks: reads the sheet, claims the
// output folder, writes the TOC. Returns the tracks to write: none when the
// run ends here (or is skipped), or has no track file to write.
sheet_tracks begin_sheet(track_voice c, sheet_run& run, temporary_files& temporaries, const char* cue_path,
                         const run_options& options, sheet_record& record)
{
    if (!derive_paths(cue_path, run.paths, naming_of(options))) {
        stop(c, "Error!! path too long\n");
        return {};
    }
    record.out_parent = run.paths.out_parent;
    record.out_name = run.paths.out_name;
    // A run writing in the folder now may be finishing this very split: the
    // check waits for it.
    if (options.skip_done)
        run.claim.lock = lock_existing_folder(run.paths);
    if (options.skip_done && split_is_done(cue_path, run.paths, options.format, record)) {
        say_skipped(c, run.paths, cue_path);
        record.skipped = true;
        record.emulator_sheet_in_place = true;
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
    if (!options.output_dir.empty())
        make_output_parent(run.paths);
    if (!claim_output_folder(c, run.folder, cue_path, run.claim) ||
        !write_toc_file(c, run.folder, run.claim, run.layout, options.format))
        return {};
    cue_file.reset();
    run.says_done = true;
    const std::vector<track_outcome> none_written(static_cast<std::size_t>(run.layout.track_count) + 1);
    record_tracks(record, run.paths, run.layout, options.format, &none_written);
    if (!find_tracks_to_write(c, run))
        return {};
    return sheet_tracks{&run.folder, options.format, &run.comments, &run.bin, &run.layout};
}

// The part after the tracks: the emulator sheet, then "Done".
void end_sheet(track_voice c, const sheet_run& run, const char* cue_path, const run_options& options,
               const std::vector<track_outcome>& outcomes, sheet_record& record)
{
    if (run.has_tracks) {
        record_tracks(record, run.paths, run.layout, options.format, &outcomes);
        record.emulator_sheet_in_place =
            write_emulator_sheet_file(c, run.folder, cue_path, run.sheet, run.layout, options.format, outcomes);
    }
    if (run.says_done) {
        say(c, "Done\n");
        record.finished = true;
    }
    record.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - run.start).count();
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
// first one's emulator sheet, and the folder's lock is not taken twice by
// one process) or reads (an output folder that holds the other's sheet and
// BINs). Folders are compared with a separator at the end, as cue_dir has one.
bool sheets_take_turns(const char* first_cue, const char* second_cue, const output_naming& naming)
{
    run_paths first{};
    run_paths second{};
    char first_out[path_capacity];
    char second_out[path_capacity];
    if (!derive_paths(first_cue, first, naming) || !derive_paths(second_cue, second, naming) ||
        !format_output_path(first, "", first_out) || !format_output_path(second, "", second_out))
        return false;
    return (same_file_name(first.out_name, second.out_name) && same_directory(first.out_parent, second.out_parent)) ||
           same_directory(first_out, second.cue_dir) || same_directory(first.cue_dir, second_out);
}

// The playlists of the multi-disc sets among the sheets; 1 when one could
// not be written.
int write_playlists(console& c, temporary_files& temporaries, const std::vector<sheet_record>& records,
                    bool full_names)
{
    console playlists{c.out, c.err, 0, false, false};
    write_disc_playlists(playlists, temporaries, records, full_names);
    return playlists.problems > 0 ? 1 : 0;
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
    std::vector<sheet_record> records(line.sheets.size());
    std::vector<std::unique_ptr<sheet_run>> runs(line.sheets.size());
    const output_naming naming = naming_of(line.options);
    const sheet_steps steps{
        [&](track_voice said, std::size_t sheet) {
            runs[sheet] = std::make_unique<sheet_run>();
            records[sheet].sheet = line.sheets[sheet];
            return begin_sheet(said, *runs[sheet], temporaries, line.sheets[sheet], line.options, records[sheet]);
        },
        [&](track_voice said, std::size_t sheet, const std::vector<track_outcome>& outcomes) {
            end_sheet(said, *runs[sheet], line.sheets[sheet], line.options, outcomes, records[sheet]);
            runs[sheet].reset();   // with what it holds open, the folder's lock too
        },
        [&](std::size_t first, std::size_t second) {
            return sheets_take_turns(line.sheets[first], line.sheets[second], naming);
        },
        [&](std::size_t sheet) { return &records[sheet].problems; },
        [&](console& played, std::size_t sheet, int sheet_status) {
            const bool reported = line.options.report_path.empty() ||
                                  append_report_line(played, line.options.report_path, records[sheet], sheet_status);
            return std::max(sheet_status, reported ? 0 : 1);
        },
    };
    const int status = run_sheets(c, line.sheets.size(), line.options.jobs > 0 ? line.options.jobs : cpus, steps);
    return std::max(status, write_playlists(c, temporaries, records, line.options.full_names));
}

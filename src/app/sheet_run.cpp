#include "app/sheet_run.h"

#include "app/lossless_step.h"
#include "app/sheet_hashes.h"
#include "app/skip_check.h"
#include "base/platform.h"
#include "extract/track_recipe.h"
#include "output/emulator_sheet.h"
#include "output/folder_owner.h"
#include "output/output_names.h"
#include "output/toc_file.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>

namespace {

// The files the run reads, by what their names hold and what they lead to:
// no output may replace one of them.
std::vector<file_identity> input_files(const disc_source& source)
{
    std::vector<file_identity> inputs;
    for (const std::string& path : source.files)
        for (const bool follow : {false, true})
            if (const file_identity identity = identify_file(path.c_str(), follow); identity.known)
                inputs.push_back(identity);
    return inputs;
}

// The track whose sectors take in the one at sector; 0 when none does.
std::int32_t track_holding(const disc_layout& layout, std::int64_t sector)
{
    for (std::int32_t number = 1; number <= layout.track_count; ++number) {
        const track_span& track = layout.tracks[number];
        const std::int64_t into = sector - track.start_sector;
        if (track.start_sector >= 0 && into >= 0 && into < track.length_sectors)
            return number;
    }
    return 0;
}

// A file's incomplete last sector is left out of the virtual BIN, so the
// next file starts on a whole sector; the last file's is its last bytes,
// which a track that runs on past them takes (and is reported as cut). An
// audio file's last sector is filled with silence instead.
void report_incomplete_sectors(voice c, const disc_source& source, const track_format& format)
{
    const std::vector<bin_file_entry>& bin_files = source.sheet.bin_files;
    for (std::size_t i = 0; i < bin_files.size(); ++i) {
        const bin_file_entry& file = bin_files[i];
        const auto tail_bytes = static_cast<long long>(file.size_bytes % file.sector_bytes);
        if (tail_bytes == 0 || is_audio_file(file))
            continue;
        // A file of 2048-byte sectors keeps no incomplete one in the virtual BIN.
        const bool in_bin = i + 1 == bin_files.size() && file.sector_bytes == raw_sector_size;
        const std::int32_t taker =
            in_bin ? track_holding(source.layout, source.bin.size_bytes / raw_sector_size) : 0;
        const std::string which =
            taker == 0 ? std::string("no track")
                       : name_track_file(taker, source.layout.tracks[taker].is_audio != 0, format).text;
        const std::string whose = bin_files.size() == 1 ? std::string("the BIN") : file.name;
        report(c, "%s ends in %lld bytes of an incomplete sector, which %s takes", whose.c_str(), tail_bytes,
               which.c_str());
    }
}

// An ISO 9660 volume: "CD001" in the user data of the track's sector 16.
bool holds_iso_volume(const virtual_bin& bin, const track_span& track)
{
    constexpr int volume_descriptor = 16;
    unsigned char sector[raw_sector_size];
    bin_reader reader;
    reader.bin = &bin;
    const std::int64_t at = std::int64_t{track.start_sector} + volume_descriptor;
    if (track.start_sector < 0 || track.length_sectors <= volume_descriptor ||
        read_bin(reader, at * raw_sector_size, sector, sizeof sector) != sizeof sector)
        return false;
    return std::memcmp(sector + (track.is_mode2 != 0 ? 24 : 16) + 1, "CD001", 5) == 0;
}

// The ISO 9660 file system of a later session's data track counts its
// addresses from the disc's start, not from its own: its .iso opens only
// when the reader is told where it lay.
void report_later_sessions(voice c, const disc_source& source, const track_format& format)
{
    const disc_layout& layout = source.layout;
    for (std::int32_t number = 2; number <= layout.track_count && !format.raw_data; ++number) {
        const track_span& track = layout.tracks[number];
        const std::int32_t session = source.sheet.records[number].session;
        if (track.is_audio != 0 || session == source.sheet.records[1].session || !holds_iso_volume(source.bin, track))
            continue;
        const long long sector = disc_sector(source.sheet, layout, number);
        const track_file_name file = name_track_file(number, false, format);
        report(c, "%s is the data track of session %i: its ISO 9660 file system counts from sector %lld of the "
                  "disc, not from the file's start; open it with 'isoinfo -N %lld -i %s' or 'xorriso -displacement "
                  "-%lld -indev %s'",
               file.text, static_cast<int>(session), sector, sector, file.text, sector, file.text);
    }
}

// Tags are UTF-8: CD-TEXT that is not is read as Windows-1252 unless the
// user names its encoding; say so, once, when the disc has a track to tag.
void report_text_encoding(voice c, const disc_source& source, const std::string& encoding)
{
    const disc_layout& layout = source.layout;
    bool has_audio = false;
    for (std::int32_t number = first_track_file(layout); number <= layout.track_count; ++number)
        has_audio = has_audio || layout.tracks[number].is_audio != 0;
    if (!has_audio || !encoding.empty() || source.sheet.unicode)
        return;
    if (const int line = first_text_not_utf8(source.sheet); line != 0)
        report(c, "line %i: the sheet's CD-TEXT is not UTF-8 and is read as Windows-1252 for the tags; if they come "
                  "out wrong, give its encoding with --text-encoding (cp1251, shift_jis, ...)",
               line);
}

// Whether the sheet gives any track file to write; says why not. Makes the
// tracks' tags, and starts the hashes when they are asked for.
bool find_tracks_to_write(voice c, sheet_run& run, const run_options& options)
{
    // A sheet of FILE lines alone: say so rather than end as if all went well.
    if (run.source.layout.track_count == 0) {
        report(c, "the sheet lists no track; no track file written");
        remove_emulator_sheet(run.folder);
        return false;
    }
    if (run.source.bin.parts.empty()) {
        report(c, "the sheet names no BIN file; no track file written");
        remove_emulator_sheet(run.folder);
        return false;
    }
    // --lossless keeps what no track holds: the incomplete sectors in its
    // manifest, the sectors before track 1 as track 0.
    const track_format& format = options.format;
    if (!format.lossless)
        report_incomplete_sectors(c, run.source, format);
    report_later_sessions(c, run.source, format);
    report_text_encoding(c, run.source, options.text_encoding);
    // LibCrypt data comes with PlayStation discs, whose emulators read the
    // data track's raw sectors.
    if (!run.source.companions.empty() && !format.raw_data)
        report(c, "%s, the LibCrypt data of a PlayStation disc, goes beside %s; PlayStation emulators run such a "
                  "disc from raw data tracks only: split it with --raw-data",
               companion_file_name(run.paths, run.source.companions.front().extension).c_str(),
               emulator_sheet_file_name(run.paths).c_str());
    if (wants_hashes(options))
        run.feed = start_hashing(run.source, run.source.layout, run.writers, format.lossless);
    run.toc_has_track_zero = first_track_file(run.source.layout) == 0;
    if (format.lossless && run.source.layout.tracks[1].start_sector > 0) {
        const track_span& first = run.source.layout.tracks[1];
        run.source.layout.tracks[0] = track_span{0, first.start_sector, 0, first.is_audio, first.is_mode2};
    }
    if (run.feed != nullptr && first_track_file(run.source.layout) != 0)
        release_feed_owner(*run.feed, 0);
    run.comments = comments_for_disc(run.source.sheet, options.text_encoding);
    run.has_tracks = true;
    return true;
}

// Whether each track's file can stand in the emulator sheet. An .iso that
// lost the Form 2 part of XA sectors, or a file with damaged sectors, would
// not play the disc as the source does; the writer's line that said so is
// the run's one word on it.
std::vector<track_fitness> fitness_of(const disc_layout& layout, const std::vector<track_outcome>& outcomes)
{
    std::vector<track_fitness> fitness(outcomes.size());
    for (std::int32_t number = 1; number <= layout.track_count; ++number) {
        const track_outcome& outcome = outcomes[static_cast<std::size_t>(number)];
        track_fitness& track = fitness[static_cast<std::size_t>(number)];
        if (!outcome.written)
            track = {false, "could not be written"};
        else if (outcome.xa_form2_sectors > 0)
            track = {false, nullptr};
        else if (layout.tracks[number].length_sectors <= 0)
            track = {false, "holds no sector"};
        else if (outcome.damaged_sectors > 0)
            track = {false, nullptr};
        else if (!outcome.complete)
            track = {false, "was padded or cut where the BIN ended"};
    }
    return fitness;
}

// --lossless: the data tracks it kept raw, and track 0 when it kept it; the
// TOC again when they are not what it named before the tracks were written
// (each data track's .iso; a hidden track, but no other track 0).
const std::vector<bool>& keep_raw_tracks(voice c, sheet_run& run, const std::vector<track_outcome>& outcomes,
                                         const track_format& format)
{
    disc_layout& layout = run.source.layout;
    if (outcomes[0].all_zero)
        layout.tracks[0].length_sectors = 0;   // silence before track 1: no file
    run.raw_tracks.assign(outcomes.size(), false);
    bool any = run.toc_has_track_zero != (first_track_file(layout) == 0);
    for (std::int32_t number = 1; number <= layout.track_count; ++number)
        if (outcomes[static_cast<std::size_t>(number)].raw && layout.tracks[number].is_audio == 0 && !format.raw_data)
            any = run.raw_tracks[static_cast<std::size_t>(number)] = true;
    if (any) {
        track_format named = format;
        named.raw_tracks = &run.raw_tracks;
        rewrite_toc_file(c, run.folder, run.source.layout, named);
    }
    return run.raw_tracks;
}

// A sheet in an archive: its files unpacked beside the output folder
// before it is claimed, so that a damaged archive leaves nothing behind.
bool unpack_source(voice c, sheet_run& run, temporary_files& temporaries, sheet_record& record)
{
    if (run.source.archive.empty())
        return true;
    remove_stale_unpacked_files(run.paths);
    record.unpacked_bytes = 0;
    for (const packed_file& file : run.source.packed) {
        say(c, "Unpacking file... %s\n", printable_name(file.name).c_str());
        record.unpacked_bytes += file.size;
    }
    run.temporaries = &temporaries;
    std::string failure;
    const bool unpacked = unpack_disc_source(run.source, temporaries, [&run](std::size_t n) {
        return unpacked_file_path(run.paths, n, current_process_id());
    }, failure);
    if (!unpacked) {
        report(c, "%s: %s; nothing was written", run.source.archive.c_str(), printable_name(failure).c_str());
        stop(c, "Error!! cannot unpack %s\n", base_name(run.source.archive.c_str()));
    }
    return unpacked;
}

// The record the run keeps from here on: this call's options and sources,
// and the files earlier runs wrote, as the folder's record has them.
void start_journal(sheet_run& run, const track_format& format, std::vector<recorded_source> sources)
{
    split_journal& journal = run.journal;
    read_split_record(run.paths, journal.found);
    journal.record.options = shaping_values(format);
    journal.record.sources = std::move(sources);
    journal.record.outputs = journal.found.outputs;
}

std::vector<std::string> recipes_of(const sheet_run& run, const track_format& format,
                                    const std::vector<recorded_source>& sources)
{
    const disc_layout& layout = run.source.layout;
    std::vector<std::string> recipes(static_cast<std::size_t>(layout.track_count) + 1);
    for (std::int32_t number = first_track_file(layout); number <= layout.track_count; ++number) {
        const auto n = static_cast<std::size_t>(number);
        recipes[n] = track_recipe(number, layout.tracks[number], run.source.bin, sources, format,
                                  n < run.comments.size() ? &run.comments[n] : nullptr);
    }
    return recipes;
}

// Every file the run makes in the folder, by name.
std::vector<std::string> made_files(const sheet_run& run, const track_format& format)
{
    std::vector<std::string> made{toc_file_name(run.paths), emulator_sheet_file_name(run.paths)};
    for (const companion_file& companion : run.source.companions)
        made.push_back(companion_file_name(run.paths, companion.extension));
    for (std::int32_t number = first_track_file(run.source.layout); number <= run.source.layout.track_count;
         ++number)
        made.emplace_back(name_track_file(number, run.source.layout.tracks[number].is_audio != 0, format).text);
    return made;
}

std::vector<bool> written_tracks(const std::vector<track_outcome>& outcomes)
{
    std::vector<bool> written;
    for (const track_outcome& outcome : outcomes)
        written.push_back(outcome.written);
    return written;
}

// Why the paths of a sheet's split are too long, and what shortens them.
void report_path_too_long(voice c, const char* cue_path, const run_options& options)
{
    // Beside the sheet with short names, the output is as short as it gets.
    run_paths probe{};
    const std::string limit = std::to_string(path_capacity - 1) + " bytes";
    if (!derive_paths(cue_path, probe, output_naming{}))
        report(c, "%s: the sheet's folder is too long a path for the files the run reads and writes there (each at "
                  "most %s); move the sheet and its BINs to a shorter path",
               cue_path, limit.c_str());
    else
        report(c, "%s: its output folder is too long a path for the files written in it (each at most %s); %s%s",
               cue_path, limit.c_str(),
               options.output_dir.empty() ? "give a folder of a shorter path with -o DIR"
                                          : "give -o a folder of a shorter path",
               options.full_names ? ", or leave out --full-names" : "");
}

// Why the sheet did not open, and the sheets in a folder given instead.
void report_unopened(voice c, const char* cue_path, const std::string& reason)
{
    std::string sheets;
    if (kind_of_path(cue_path) == path_kind::directory) {
        std::vector<std::string> names;
        list_directory(cue_path, [&](const char* name) {
            std::string ending = std::string(name).substr(std::max<std::size_t>(std::strlen(name), 4) - 4);
            for (char& letter : ending)
                letter = static_cast<char>(std::tolower(static_cast<unsigned char>(letter)));
            if (ending == ".cue" && std::strlen(name) > 4)
                names.emplace_back(name);
        });
        std::sort(names.begin(), names.end());
        for (const std::string& name : names)
            sheets += (sheets.empty() ? "; name a CUE sheet in it: " : ", ") + name;
        if (names.empty())
            sheets = "; name the CUE sheet to split";
    }
    report(c, "cannot open the sheet %s: %s%s", cue_path, reason.c_str(), sheets.c_str());
}

} // namespace

output_naming naming_of(const run_options& options)
{
    return output_naming{options.output_dir.c_str(), options.full_names};
}

sheet_tracks begin_sheet(voice c, sheet_run& run, temporary_files& temporaries, const disc_name& disc,
                         const run_options& options, sheet_record& record)
{
    if (!derive_paths(naming_path(disc).c_str(), run.paths, naming_of(options))) {
        stop(c, "Error!! path too long\n");
        report_path_too_long(c, naming_path(disc).c_str(), options);
        return {};
    }
    record.out_parent = run.paths.out_parent;
    record.out_name = run.paths.out_name;
    // A run writing in the folder now may be finishing this very split: the
    // check waits for it.
    if (options.skip_done)
        run.claim.lock = lock_existing_folder(run.paths);
    if (options.skip_done && split_is_done(disc, run.paths, options.format, options.text_encoding, record)) {
        say_skipped(c, run.paths, disc);
        record.skipped = true;
        record.has_folder = true;
        record.emulator_sheet_in_place = true;
        return {};
    }
    say(c, "Open file %s\n\n", shown_name(disc).c_str());
    run.source = read_disc_source(disc);
    if (run.source.result == disc_source::state::unopened) {
        if (!run.source.refusal.empty())
            report(c, "%s: %s", disc.path.c_str(), printable_name(run.source.refusal).c_str());
        stop(c, "Error abriendo CUE\n");
        if (run.source.refusal.empty())
            report_unopened(c, full_name(disc).c_str(), run.source.error.message);
        return {};
    }
    for (const std::string& notice : run.source.sheet.notices)
        report(c, "%s", notice.c_str());
    if (run.source.result == disc_source::state::malformed) {
        stop(c, "Error!! line %i %s\n", run.source.error.line_number, run.source.error.message.c_str());
        if (!run.source.error.detail.empty())
            report(c, "%s", run.source.error.detail.c_str());
        return {};
    }
    if (run.source.result == disc_source::state::not_a_source) {
        report(c, "%s", run.source.error.message.c_str());
        return {};
    }
    run.folder = output_folder{&run.paths, &temporaries, input_files(run.source), &run.journal, naming_of(options)};
    if (!options.output_dir.empty())
        run.claim.unmade = make_output_parent(run.paths, run.claim.unmade_path);
    if (!unpack_source(c, run, temporaries, record))
        return {};
    // Taken before a byte of them is read: a file changed while the run
    // reads it is found changed by the next run.
    const std::vector<recorded_source> sources = source_states(run.source.files);
    if (!claim_output_folder(c, run.folder, disc, run.claim))
        return {};
    record.has_folder = run.claim.unmade == 0;
    start_journal(run, options.format, sources);
    if (!write_toc_file(c, run.folder, run.claim, run.source.layout, options.format))
        return {};
    run.says_done = true;
    const std::vector<bool> none_written(static_cast<std::size_t>(run.source.layout.track_count) + 1);
    record_tracks(record, run.paths, run.source.layout, options.format, &none_written);
    if (!find_tracks_to_write(c, run, options))
        return {};
    run.recipes = recipes_of(run, options.format, sources);
    return sheet_tracks{&run.folder,     options.format,     &run.comments,      &run.recipes,
                        &run.source.bin, &run.source.layout, run.feed.get()};
}

void end_sheet(voice c, sheet_run& run, const disc_name& disc, const run_options& options,
               const std::vector<track_outcome>& outcomes, sheet_record& record)
{
    std::vector<hashed_file> files;
    bool kept = false;
    track_format format = options.format;
    if (run.has_tracks) {
        if (run.feed != nullptr) {
            finish_feed(*run.feed);
            files = hashed_files(c, run.source, *run.feed);
        }
        if (options.format.lossless)
            format.raw_tracks = &keep_raw_tracks(c, run, outcomes, format);
        const std::vector<bool> written = written_tracks(outcomes);
        record_tracks(record, run.paths, run.source.layout, format, &written);
        write_companion_files(c, run.folder, run.source.companions);
        record.emulator_sheet_in_place = write_emulator_sheet_file(
            c, run.folder, source_name_of(disc, run.paths).c_str(), run.source.sheet, run.source.layout,
            format, fitness_of(run.source.layout, outcomes));
        kept = options.format.lossless && write_lossless_manifest(c, run.folder, run.source, run.source.layout,
                                                                 outcomes, *run.feed, files, format);
    }
    if (run.temporaries != nullptr)
        remove_unpacked_files(run.source, *run.temporaries);
    if (run.says_done) {
        // Files of earlier options go once the new split stands whole.
        if (record.emulator_sheet_in_place)
            remove_unmade_outputs(run.folder, made_files(run, format));
        write_journal(run.folder, record.emulator_sheet_in_place);
        say(c, "Done\n");
        record.finished = true;
    }
    if (kept)
        say(c, "Lossless: every byte of %s is kept\n", shown_name(disc).c_str());
    if (options.hash)
        say_hashes(c, files);
    if (run.dat != nullptr && !files.empty())
        check_against_dat(c, *run.dat, files);
    for (const hashed_file& file : files)
        if (file.whole)
            record.files.push_back({file.name, file.digest});
    record.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - run.start).count();
}

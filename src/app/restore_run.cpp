#include "app/restore_run.h"

#include "app/restore_files.h"
#include "app/sheet_hashes.h"
#include "app/sheet_pool.h"
#include "base/paths.h"
#include "base/platform.h"
#include "output/output_names.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <cmath>
#include <cstring>
#include <deque>
#include <memory>

namespace {

// One folder's restore, from its first line until its last file is placed.
struct folder_restore {
    std::string source;              // the folder as given
    split_folder split;
    run_paths paths{};               // the folder written into
    output_folder folder;
    std::deque<run_paths> below_paths;   // the folders below it that a file's name asks for
    std::deque<output_folder> below;
    std::vector<restore_target> targets;
    std::shared_ptr<stream_writer> writer;
    std::unique_ptr<source_feed> feed;
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    bool finished = false;           // it got to its "Done"
    std::vector<std::string> problems;
};

// Where a folder's restore writes: -o DIR, else the folder's own parent.
bool restore_paths(const char* folder, const run_options& options, run_paths& paths)
{
    if (!options.output_dir.empty())
        return paths_of_folder(options.output_dir.c_str(), paths);
    run_paths own{};
    if (!paths_of_folder(folder, own))
        return false;
    return paths_of_folder(*own.cue_dir == '\0' ? "." : own.cue_dir, paths);
}

std::vector<file_identity> identities(const std::vector<std::string>& paths)
{
    std::vector<file_identity> inputs;
    for (const std::string& path : paths)
        if (const file_identity identity = identify_file(path.c_str(), true); identity.known)
            inputs.push_back(identity);
    return inputs;
}

// A piece's decoder reads its run of the BIN into the feed; the outcome
// carries the CRC32 of what it read, which the manifest's must equal.
track_outcome restore_piece(voice, track_writer& writer, std::int32_t, const track_span& piece,
                            std::atomic<std::int64_t>& progress)
{
    range_check check;
    check.first = std::int64_t{piece.start_sector} * raw_sector_size;
    check.end = check.first + std::int64_t{piece.length_sectors} * raw_sector_size;
    start_hash(check.hash, crc32_part);
    writer.bin.check = &check;
    bool whole = true;
    for (std::int64_t at = check.first; at < check.end;) {
        const auto wanted = static_cast<std::size_t>(
            std::min<std::int64_t>(check.end - at, static_cast<std::int64_t>(sizeof writer.buffer->sectors)));
        const std::size_t got = read_bin(writer.bin, at, writer.buffer->sectors, wanted);
        progress += static_cast<std::int64_t>(got);
        at += static_cast<std::int64_t>(got);
        if (got < wanted) {
            whole = false;
            break;
        }
    }
    writer.bin.check = nullptr;
    track_outcome outcome{whole, whole};
    finish_hash(check.hash, outcome.piece);
    return outcome;
}

sheet_tracks begin_restore(voice c, folder_restore& run, temporary_files& temporaries, const run_options& options,
                           int writers)
{
    run_paths own{};
    const bool named = paths_of_folder(run.source.c_str(), own);
    say(c, "Open folder %s\n\n", named ? own.out_name : run.source.c_str());
    run.split = read_split_folder(run.source, playable_image_name(own.out_name, "bin"));
    std::string why = run.split.why;
    if (run.split.what == split_folder::kind::unreadable || !restore_targets(run.split, run.targets, why)) {
        report(c, "%s: %s; nothing restored", run.source.c_str(), why.c_str());
        return {};
    }
    if (!restore_paths(run.source.c_str(), options, run.paths)) {
        report(c, "%s: the path of the folder to restore into is too long; nothing restored", run.source.c_str());
        return {};
    }
    if (!options.output_dir.empty()) {
        std::string unmade;   // which folder could not be made: not said here, as before
        make_output_parent(run.paths, unmade);
        make_directory(output_dir_path(run.paths).c_str());
    }
    run.folder = output_folder{&run.paths, &temporaries, identities(run.split.inputs)};
    find_target_folders(run.targets, run.folder, run.below_paths, run.below);
    for (restore_target& target : run.targets)
        if (!check_existing(c, target, run.source))
            return {};
    for (const restore_target& target : run.targets)
        if (!target.left)
            say(c, "Restoring file... %s\n", target.name.c_str());
    run.finished = true;
    run.writer = std::make_shared<stream_writer>();
    // The check needs the SHA-1 alone; what is printed or reported, all three.
    const bool shown = options.hash || !options.dat_path.empty() || !options.report_path.empty();
    run.feed = start_restore_feed(run.split, run.targets, run.writer, writers, shown ? all_parts : sha1_part);
    if (run.writer->files.empty())
        return {};
    return sheet_tracks{&run.folder,       default_track_format(), nullptr,        nullptr,
                        &run.split.bin,    &run.split.pieces,      run.feed.get(), restore_piece};
}

// Whether every piece gave back the bytes the manifest records and every
// file was written as it was: reports each that did not.
bool restored_whole(voice c, folder_restore& run, const std::vector<track_outcome>& outcomes)
{
    bool whole = true;
    for (std::int32_t number = 1; number <= run.split.pieces.track_count; ++number) {
        const track_outcome& outcome = outcomes[static_cast<std::size_t>(number)];
        const bool lossless = run.split.what == split_folder::kind::lossless;
        const manifest_piece* piece =
            lossless ? &run.split.manifest.pieces[run.split.piece_of[static_cast<std::size_t>(number)]] : nullptr;
        if (outcome.complete && (piece == nullptr || outcome.piece.crc32 == piece->digest.crc32))
            continue;
        whole = false;
        const std::string file = piece != nullptr ? piece->file : "track " + std::to_string(number);
        report(c, "%s does not give back the bytes %s", file.c_str(),
               lossless ? "the manifest records" : "of its track");
    }
    const stream_writer& writer = *run.writer;
    for (std::size_t i = 0; i < writer.files.size(); ++i) {
        restore_target& target = *writer.files[i];
        target.digest = run.feed->digests[i];
        if (writer.failures[i] != 0) {
            report(c, "cannot write %s: %s", output_path(*target.folder->paths, target.file_name).c_str(),
                   describe_open_failure(writer.failures[i]));
            whole = false;
        } else if (target.known && (target.digest.size != target.expected.size ||
                                    target.digest.sha1 != target.expected.sha1)) {
            report(c, "the restored %s is not the file the manifest records: its size or SHA-1 differs",
                   target.name.c_str());
            whole = false;
        }
    }
    return whole;
}

void end_restore(voice c, folder_restore& run, const run_options& options, const dat_catalogue* dat,
                 const std::vector<track_outcome>& outcomes)
{
    if (!run.finished)
        return;
    run.finished = false;
    finish_feed(*run.feed);
    close_writer(*run.writer);
    // With every file there already, no piece was read.
    if (!run.writer->files.empty() && !restored_whole(c, run, outcomes)) {
        for (output_file& out : run.writer->outs)
            discard_output_file(out);
        report(c, "nothing restored from %s", run.source.c_str());
        return;
    }
    restore_target& sheet = run.targets.back();
    if (!place_targets(c, *run.writer, run.source) || !place_sheet(c, sheet, run.source))
        return;
    run.finished = true;
    say(c, "Done\n");
    if (run.split.what == split_folder::kind::playable)
        say(c, "Not the original dump: %s is a playable image, as %s has no manifest (a split without "
               "--lossless)%s%s\n",
            run.split.image_bin.c_str(), run.split.name.c_str(), run.split.not_original.empty() ? "" : "; ",
            run.split.not_original.c_str());
    std::vector<hashed_file> files{{sheet.name, sheet.left ? sheet.digest : digest_of(sheet.bytes), true}};
    for (const restore_target& target : run.targets)
        if (!target.is_sheet)
            files.push_back({target.name, target.digest, true});
    if (options.hash)
        say_hashes(c, files);
    if (dat != nullptr)
        check_against_dat(c, *dat, files);
}

std::string restore_line(const folder_restore& run, const std::vector<std::string>& problems, int status)
{
    using json = nlohmann::ordered_json;
    json files = json::array();
    if (run.finished)
        for (const restore_target& target : run.targets)
            files.push_back(json{{"name", target.name},
                                 {"size", target.digest.size},
                                 {"crc32", crc32_hex(target.digest.crc32)},
                                 {"md5", hex_of(target.digest.md5)},
                                 {"sha1", hex_of(target.digest.sha1)},
                                 {"restored", !target.left}});
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - run.start).count();
    const json line{{"folder", run.source},
                    {"output", *run.paths.out_name == '\0' ? json(nullptr) : json(output_dir_path(run.paths))},
                    {"status", !run.finished ? "error" : status == 0 ? "done" : "problems"},
                    {"seconds", std::round(seconds * 1000) / 1000},
                    {"files", files},
                    {"problems", problems}};
    return line.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
}

} // namespace

int run_restore(console& c, temporary_files& temporaries, const std::vector<const char*>& folders,
                const run_options& options, int writers, const dat_catalogue* dat, call_tally& tally)
{
    std::vector<std::unique_ptr<folder_restore>> runs(folders.size());
    std::vector<std::vector<std::string>> problems(folders.size());
    const sheet_steps steps{
        [&](voice said, std::size_t i) {
            runs[i] = std::make_unique<folder_restore>();
            runs[i]->source = folders[i];
            return begin_restore(said, *runs[i], temporaries, options, writers);
        },
        [&](voice said, std::size_t i, const std::vector<track_outcome>& outcomes) {
            end_restore(said, *runs[i], options, dat, outcomes);
        },
        // Folders that write into one folder take turns, so that each finds
        // what the one before it placed there.
        [&](std::size_t a, std::size_t b) {
            run_paths first{};
            run_paths second{};
            return restore_paths(folders[a], options, first) && restore_paths(folders[b], options, second) &&
                   output_dir_path(first) == output_dir_path(second);
        },
        [&](std::size_t i) { return &problems[i]; },
        [&](console& played, std::size_t i, int status) {
            if (!options.report_path.empty() &&
                !append_to_file(options.report_path.c_str(), restore_line(*runs[i], problems[i], status))) {
                report(played, "cannot append to %s: %s", options.report_path.c_str(), std::strerror(errno));
                status = std::max(status, 1);
            }
            runs[i].reset();
            return status;
        },
    };
    return run_sheets(c, folders, writers, steps, tally);
}

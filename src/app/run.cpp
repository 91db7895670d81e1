#include "app/run.h"

#include "app/command_line.h"
#include "app/dat_check.h"
#include "app/disc_playlist.h"
#include "app/restore_run.h"
#include "app/sheet_pool.h"
#include "app/sheet_report.h"
#include "app/sheet_run.h"
#include "base/paths.h"
#include "base/platform.h"
#include "base/temporary_files.h"
#include "output/folder_owner.h"
#include "output/output_names.h"

#include <algorithm>
#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

// Two sheets of one call run one after the other when one writes where the
// other writes (the same output folder: the ownership check must see the
// first one's emulator sheet, and the folder's lock is not taken twice by
// one process) or reads (an output folder that holds the other's sheet and
// BINs). Folders are compared with a separator at the end, as cue_dir has one.
bool sheets_take_turns(const disc_name& first_disc, const disc_name& second_disc, const output_naming& naming)
{
    run_paths first{};
    run_paths second{};
    if (!derive_paths(naming_path(first_disc).c_str(), first, naming) ||
        !derive_paths(naming_path(second_disc).c_str(), second, naming))
        return false;
    const std::string first_out = output_path(first, "");
    const std::string second_out = output_path(second, "");
    return (same_file_name(first.out_name, second.out_name) && same_folder(first.out_parent, second.out_parent)) ||
           same_folder(first_out.c_str(), second.cue_dir) || same_folder(first.cue_dir, second_out.c_str());
}

// The playlists of the multi-disc sets among the sheets; 1 when one could
// not be written.
int write_playlists(console& c, temporary_files& temporaries, const std::vector<sheet_record>& records,
                    bool full_names)
{
    console playlists = console_beside(c);
    playlists.show_progress = false;
    write_disc_playlists(playlists, temporaries, records, full_names);
    return playlists.problems > 0 ? 1 : 0;
}

// The last line of an interrupted call.
std::string interrupted_line(const call_tally& tally)
{
    const int written = tally.tracks_written;
    const std::string of_all = tally.every_sheet_read ? " of " + std::to_string(tally.tracks_known.load()) : "";
    const char* tracks = written == 1 && of_all.empty() ? " track" : " tracks";
    return "interrupted with " + std::to_string(written) + of_all + tracks +
           " complete; run the same command again to finish";
}

// Ends the console for an interrupt, waiting for it no more than two
// seconds: a reader of standard output that does not read must not keep
// the process from ending.
void close_console_in_time(const console& c, const std::string& last_line)
{
    auto closed = std::make_shared<std::promise<void>>();
    std::future<void> done = closed->get_future();
    try {
        std::thread([c, last_line, closed] {
            close_console(c, last_line);
            closed->set_value();
        }).detach();
    } catch (const std::system_error&) {
        return;
    }
    done.wait_for(std::chrono::seconds(2));
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
    // A DAT that cannot be read stops the call before anything is done.
    dat_catalogue dat;
    std::string why;
    if (!line.options.dat_path.empty() && !read_dat_file(line.options.dat_path.c_str(), dat, why)) {
        report(c, "cannot read the DAT %s: %s", line.options.dat_path.c_str(), why.c_str());
        return 2;
    }
    const int writers = line.options.jobs > 0 ? line.options.jobs : cpus;
    const output_naming naming = naming_of(line.options);
    if (!line.options.report_path.empty()) {
        // Refused before anything is done, as a mistaken option is.
        if (const std::string refused = report_file_refusal(line.options.report_path, line.sheets, naming);
            !refused.empty()) {
            report(c, "%s", refused.c_str());
            return 2;
        }
    }

    // An interrupted run leaves no temporary behind, and its dialogue so far
    // and a word on what is left are written out; a reader that goes away (a
    // closed pipe, or no standard output at all) costs the dialogue only:
    // every track is written, and none of them takes the dialogue.
    hold_standard_descriptors();
    c.show_progress = is_terminal(c.err);
    temporary_files temporaries;
    call_tally tally;
    const interrupt_watch watch([&temporaries, &tally, shown = c] {
        remove_temporaries(temporaries);
        close_console_in_time(shown, interrupted_line(tally));
    });
    ignore_broken_pipe();
    if (line.options.restore)
        return run_restore(c, temporaries, line.sheets, line.options, writers,
                           line.options.dat_path.empty() ? nullptr : &dat, tally);
    // Each sheet is run as if it were the only one; the writers are shared.
    // An archive gives each sheet it holds.
    std::vector<disc_name> discs;
    for (const char* sheet : line.sheets)
        for (disc_name& disc : name_discs(sheet))
            discs.push_back(std::move(disc));
    std::vector<sheet_record> records(discs.size());
    std::vector<std::unique_ptr<sheet_run>> runs(discs.size());
    const sheet_steps steps{
        [&](voice said, std::size_t sheet) {
            runs[sheet] = std::make_unique<sheet_run>();
            runs[sheet]->writers = writers;
            runs[sheet]->dat = line.options.dat_path.empty() ? nullptr : &dat;
            records[sheet].sheet = full_name(discs[sheet]);
            return begin_sheet(said, *runs[sheet], temporaries, discs[sheet], line.options, records[sheet]);
        },
        [&](voice said, std::size_t sheet, const std::vector<track_outcome>& outcomes) {
            end_sheet(said, *runs[sheet], discs[sheet], line.options, outcomes, records[sheet]);
            runs[sheet].reset();   // with what it holds open, the folder's lock too
        },
        [&](std::size_t first, std::size_t second) {
            return sheets_take_turns(discs[first], discs[second], naming);
        },
        [&](std::size_t sheet) { return &records[sheet].problems; },
        [&](console& played, std::size_t sheet, int sheet_status) {
            const bool reported = line.options.report_path.empty() ||
                                  append_report_line(played, line.options.report_path, records[sheet], sheet_status);
            return std::max(sheet_status, reported ? 0 : 1);
        },
    };
    // Each line of standard error begins with its disc's name when there are several.
    std::vector<std::string> disc_names;
    for (const disc_name& disc : discs)
        disc_names.push_back(full_name(disc));
    std::vector<const char*> names;
    for (const std::string& name : disc_names)
        names.push_back(name.c_str());
    const int status = run_sheets(c, names, writers, steps, tally);
    return std::max(status, write_playlists(c, temporaries, records, line.options.full_names));
}

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

    // An interrupted run leaves no temporary behind, and a reader that goes
    // away (a closed pipe, or no standard output at all) costs the dialogue
    // only: every track is written, and none of them takes the dialogue.
    hold_standard_descriptors();
    temporary_files temporaries;
    const interrupt_watch watch([&temporaries] { remove_temporaries(temporaries); });
    ignore_broken_pipe();
    c.show_progress = is_terminal(c.err);
    if (line.options.restore)
        return run_restore(c, temporaries, line.sheets, line.options, writers,
                           line.options.dat_path.empty() ? nullptr : &dat);
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
    const int status = run_sheets(c, discs.size(), writers, steps);
    return std::max(status, write_playlists(c, temporaries, records, line.options.full_names));
}

#include "app/run.h"

#include "app/diagnostics.h"
#include "app/paths.h"
#include "app/platform.h"
#include "cue/cue_reader.h"
#include "cue/layout.h"
#include "extract/track_writer.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

void print_usage()
{
    std::printf("trackcarve 1.0 - splits a CD image into one file per track, by the trackcarve developers");
    std::printf("\n\n Use:\n\n      trackcarve file.cue\n");
    std::printf("\n");
}

// Writes the TOC and fixes every track's place in the BIN. Returns false when
// the TOC could not be created (the run ends there); clean is cleared when
// something was reported.
bool write_toc(const run_paths& paths, track_table& table, bool& clean)
{
    file_stream toc_file = create_toc_file(paths);
    if (!toc_file)
        return false;
    clean = lay_out_tracks(table, toc_file.get()) && clean;
    if (!close_file(toc_file)) {
        char path[path_capacity];
        format_toc_path(paths, path);
        report_problem("cannot write %s: %s", path, std::strerror(errno));
        clean = false;
    }
    return true;
}

bool extract_all_tracks(const run_paths& paths, const track_table& table, std::FILE* bin_file)
{
    // A sheet in an encoding the reader cannot see commands in (UTF-16, say)
    // reads as no tracks at all: say so rather than end as if all went well.
    if (table.track_count == 0) {
        report_problem("the sheet lists no track; no track file written");
        return false;
    }
    if (bin_file == nullptr) {
        report_problem("the sheet names no BIN file; no track file written");
        return false;
    }
    const std::int64_t tail_bytes = file_size(bin_file) % raw_sector_size;
    if (tail_bytes > 0) {
        report_problem("the BIN ends in %lld bytes of an incomplete sector, which no track takes",
                       static_cast<long long>(tail_bytes));
    }
    // Working memory for the whole run, taken once, outside the copy loops.
    const auto buffer = std::make_unique<track_buffer>();
    bool clean = tail_bytes == 0;
    for (int index = 0; index < table.track_count; ++index)
        clean = extract_track(paths, table, bin_file, index, *buffer) && clean;
    return clean;
}

int run_sequence(int argc, char** argv)
{
    if (argc <= 1) {
        print_usage();
        wait_for_key();
        return 0;
    }
    const char* cue_path = argv[1];
    run_paths paths;
    if (!derive_paths(cue_path, paths)) {
        std::printf("Error!! path too long\n");
        return 1;
    }

    std::printf("Open file %s\n\n", base_name(cue_path));
    file_stream cue_file = open_regular_file(cue_path);
    if (!cue_file) {
        std::printf("Error abriendo CUE\n");
        return 1;
    }
    track_table table;
    file_stream bin_file;
    if (!read_cue_sheet(cue_file.get(), paths.cue_dir, table, bin_file))
        return 1;

    bool clean = table.numbered_in_order;
    if (!write_toc(paths, table, clean))
        return 1;
    cue_file.reset();

    clean = extract_all_tracks(paths, table, bin_file.get()) && clean;
    std::printf("Done\n");
    return clean ? 0 : 1;
}

} // namespace

int run_trackcarve(int argc, char** argv)
{
    const int status = run_sequence(argc, argv);
    // The console dialogue is the run's report: losing it is a failure too.
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        report_problem("cannot write to standard output: %s", std::strerror(errno));
        return 1;
    }
    return status;
}

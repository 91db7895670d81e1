// The command line: options anywhere before "--", every other argument a
// CUE sheet. Each option is declared once, with its help text, in
// command_line.cpp.
#pragma once

#include "extract/audio_codecs.h"

#include <string>
#include <vector>

// What the options ask of every sheet's run.
struct run_options {
    int jobs = 0;                // 0: as many as the machine has CPUs online
    track_format format = default_track_format();
    bool quality_given = false;  // -q was given (it does not go with a lossless codec)
    std::string output_dir;      // -o: the folder the output folders are made in; "" beside each sheet
    bool full_names = false;     // output names keep the sheet's whole name
    bool skip_done = false;      // a sheet whose split is complete and up to date is skipped
    std::string report_path;     // --report: JSON Lines appended here; "" for none
    std::string text_encoding;   // --text-encoding: what CD-TEXT is read in; "" for UTF-8, else Windows-1252
    bool hash = false;           // --hash: print each source file's CRC32, MD5 and SHA-1
    std::string dat_path;        // --dat: check the source files against this Logiqx DAT; "" for none
    bool restore = false;        // --restore: every argument is a split folder to give back as a disc image
};

// Whether a run reads its source files' hashes.
bool wants_hashes(const run_options& options);

struct command_line {
    enum class request { split, usage, help, version, mistake };
    request what = request::usage;
    run_options options;
    std::vector<const char*> sheets;  // in the order given (with --restore, the folders)
    std::string mistake;              // for request::mistake: the line naming it
};

command_line parse_command_line(int argc, char** argv);

// The help text for --help; the usage text when no sheet is given.
void print_help(struct console& c, int default_jobs);
void print_usage(struct console& c);
void print_version(struct console& c);

// The command line: options anywhere before "--", every other argument a
// CUE sheet.
#pragma once

#include <string>
#include <vector>

struct command_line {
    enum class request { split, usage, help, version, mistake };
    request what = request::usage;
    int jobs = 0;                     // 0: as many as the machine has CPUs online
    std::vector<const char*> sheets;  // in the order given
    std::string mistake;              // for request::mistake: the line naming it
};

command_line parse_command_line(int argc, char** argv);

// The help text for --help; the usage text when no sheet is given.
void print_help(struct console& c, int default_jobs);
void print_usage(struct console& c);
void print_version(struct console& c);

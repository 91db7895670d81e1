#include "app/command_line.h"

#include "base/console.h"

#include <vorbis/codec.h>

#include <cstring>

namespace {

bool starts_with(const char* text, const char* prefix) { return std::strncmp(text, prefix, std::strlen(prefix)) == 0; }

// A job count: decimal digits only, 1 to 9999.
bool read_jobs(const char* text, int& jobs)
{
    if (text == nullptr || *text == '\0' || std::strlen(text) > 4)
        return false;
    int value = 0;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9')
            return false;
        value = value * 10 + (*p - '0');
    }
    jobs = value;
    return value > 0;
}

command_line mistake(std::string line)
{
    command_line parsed;
    parsed.what = command_line::request::mistake;
    parsed.mistake = std::move(line);
    return parsed;
}

} // namespace

command_line parse_command_line(int argc, char** argv)
{
    command_line parsed;
    bool help = false;
    bool version = false;
    bool options_ended = false;
    for (int i = 1; i < argc; ++i) {
        const char* argument = argv[i];
        if (options_ended || argument[0] != '-' || argument[1] == '\0') {
            parsed.sheets.push_back(argument);
        } else if (std::strcmp(argument, "--") == 0) {
            options_ended = true;
        } else if (std::strcmp(argument, "-h") == 0 || std::strcmp(argument, "--help") == 0) {
            help = true;
        } else if (std::strcmp(argument, "-V") == 0 || std::strcmp(argument, "--version") == 0) {
            version = true;
        } else if (std::strcmp(argument, "-j") == 0 || std::strcmp(argument, "--jobs") == 0) {
            const char* value = i + 1 < argc ? argv[++i] : nullptr;
            if (value == nullptr)
                return mistake(std::string("option '") + argument + "' needs a number of jobs");
            if (!read_jobs(value, parsed.jobs))
                return mistake(std::string("option '") + argument + "': '" + value +
                               "' is not a number of jobs from 1 to 9999");
        } else if (starts_with(argument, "--jobs=") || (starts_with(argument, "-j") && argument[2] != '\0')) {
            const char* value = argument[1] == 'j' ? argument + 2 : argument + 7;
            if (!read_jobs(value, parsed.jobs))
                return mistake(std::string("option '") + argument + "': '" + value +
                               "' is not a number of jobs from 1 to 9999");
        } else {
            return mistake(std::string("unknown option '") + argument + "'");
        }
    }
    if (help)
        parsed.what = command_line::request::help;
    else if (version)
        parsed.what = command_line::request::version;
    else
        parsed.what = parsed.sheets.empty() ? command_line::request::usage : command_line::request::split;
    return parsed;
}

void print_usage(console& c)
{
    say(c, "trackcarve 1.0 - splits a CD image into one file per track, by the trackcarve developers");
    say(c, "\n\n Use:\n\n      trackcarve file.cue\n");
    say(c, "\n");
}

void print_help(console& c, int default_jobs)
{
    say(c, "Usage: trackcarve [OPTION]... SHEET.cue...\n"
           "Splits each CD image, a CUE sheet and its BIN files, into one file per track, in a\n"
           "new folder beside the sheet: trackN.iso for a data track, trackN.ogg (Ogg Vorbis)\n"
           "for an audio track, NAME.toc listing them, and NAME.cue, a CUE sheet of those files\n"
           "for emulators. Several sheets are split one after another.\n"
           "\n"
           "  -j, --jobs N    write up to N tracks side by side (default: %i, the CPUs online)\n"
           "  -h, --help      show this help and exit\n"
           "  -V, --version   show the version and exit\n"
           "  --              end of the options: every later argument is a sheet\n"
           "\n"
           "Exit status: 0 when every sheet was split cleanly, 1 when a run stopped on an\n"
           "error or reported a problem on standard error, 2 for a bad command line.\n",
        default_jobs);
}

void print_version(console& c)
{
    say(c, "trackcarve %s\n%s\n", TRACKCARVE_VERSION, vorbis_version_string());
}

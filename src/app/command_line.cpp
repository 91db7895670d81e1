#include "app/command_line.h"

#include "base/console.h"
#include "base/platform.h"

#include <FLAC/format.h>
#include <getopt.h>
#include <vorbis/codec.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <span>
#include <utility>
#include <vector>

namespace {

// The options a long name alone gives: numbered above every letter, and
// the codecs' options above those, one per codec that has one.
enum long_option_id : int { full_names_option = 256, sheet_word_option, raw_data_option, skip_done_option,
                            report_option, text_encoding_option, hash_option, dat_option, lossless_option,
                            restore_option, codec_option };

struct option_entry {
    int id;                 // the short option's letter, or a long_option_id
    const char* name;       // the long option's name
    const char* value;      // the value's name in the help; null for an option without one
    const char* help;       // "{jobs}" stands for the default job count
    const char* needs;      // what a missing value should have been
    const char* wanted;     // what a bad value should have been
};

// Every option but the codecs', in the order --help lists them; each codec's
// option follows -q.
constexpr option_entry option_table[] = {
    {'j', "jobs", "N", "write N tracks at once (default: {jobs}, the CPUs online)",
     "a number of jobs", "a number of jobs from 1 to 9999"},
    {'o', "output", "DIR", "make the output folders in DIR (made when missing)",
     "a folder", "a folder name"},
    {full_names_option, "full-names", nullptr, "name the folder and files after the sheet's whole name",
     nullptr, nullptr},
    {raw_data_option, "raw-data", nullptr,
     "data tracks as trackN.bin: their raw 2352-byte sectors", nullptr, nullptr},
    {'q', "quality", "Q", "Ogg Vorbis quality -1 to 10, as oggenc's (default: 1)",
     "a quality", "a quality from -1 to 10"},
    {sheet_word_option, "sheet-word", "WORD",
     "OGG or WAVE: NAME.cue's audio type word (default: OGG; WAVE for FLAC)",
     "a type word", "OGG or WAVE"},
    {text_encoding_option, "text-encoding", "NAME",
     "the sheet's CD-TEXT encoding, such as cp1251 or shift_jis (default: UTF-8, else Windows-1252)",
     "an encoding", "an encoding this system knows, such as cp1251 or shift_jis"},
    {skip_done_option, "skip-done", nullptr, "skip a sheet whose split is complete and up to date",
     nullptr, nullptr},
    {report_option, "report", "FILE", "append a JSON line to FILE as each sheet ends", "a file name",
     "a file name"},
    {lossless_option, "lossless", nullptr,
     "keep every byte: FLAC audio, data as .iso only where it regenerates, and a manifest", nullptr, nullptr},
    {hash_option, "hash", nullptr, "print the CRC32, MD5 and SHA-1 of the sheet and each file it names", nullptr,
     nullptr},
    {dat_option, "dat", "FILE", "check the files against FILE, a Logiqx XML DAT (Redump, TOSEC)", "a DAT file",
     "a DAT file"},
    {restore_option, "restore", nullptr, "the arguments are split folders: rebuild each one's disc image",
     nullptr, nullptr},
    {'h', "help", nullptr, "show this help and exit", nullptr, nullptr},
    {'V', "version", nullptr, "show the version and exit", nullptr, nullptr},
};

// Every option, the codecs' among them.
std::vector<option_entry> all_options()
{
    std::vector<option_entry> options;
    for (const option_entry& entry : option_table) {
        options.push_back(entry);
        if (entry.id != 'q')
            continue;
        const std::span<const audio_codec> codecs = audio_codecs();
        for (std::size_t i = 0; i < codecs.size(); ++i)
            if (codecs[i].option != nullptr)
                options.push_back(option_entry{codec_option + static_cast<int>(i), codecs[i].option, nullptr,
                                               codecs[i].option_help, nullptr, nullptr});
    }
    return options;
}

const option_entry* find_option(int id)
{
    for (const option_entry& entry : option_table)
        if (entry.id == id)
            return &entry;
    return nullptr;
}

// A job count: decimal digits only, 1 to 9999.
bool read_jobs(const char* text, int& jobs)
{
    if (*text == '\0' || std::strlen(text) > 4)
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

// A Vorbis quality as oggenc takes it: a plain decimal from -1 to 10, kept
// on libvorbis's scale (a tenth), rounded to float as oggenc rounds it, so
// the same -q gives the same stream.
bool read_quality(const char* text, float& quality)
{
    const char* p = text + (*text == '-' || *text == '+');
    int digits = 0;
    for (; *p >= '0' && *p <= '9'; ++p)
        ++digits;
    if (*p == '.')
        for (++p; *p >= '0' && *p <= '9'; ++p)
            ++digits;
    if (digits == 0 || *p != '\0')
        return false;
    // from_chars rounds as strtod does, but reads '.' whatever the locale.
    double value = 0;
    const char* start = text + (*text == '+');
    if (std::from_chars(start, p, value).ptr != p)
        return false;
    if (value < -1 || value > 10)
        return false;
    quality = static_cast<float>(value * 0.1);
    return true;
}

bool read_sheet_word(const char* text, sheet_word& word)
{
    if (std::strcmp(text, "OGG") == 0)
        word = sheet_word::ogg;
    else if (std::strcmp(text, "WAVE") == 0)
        word = sheet_word::wave;
    else
        return false;
    return true;
}

// The line that names two options given together that do not go together;
// "" when there are none. --lossless writes its audio as FLAC.
std::string clashing_options(run_options& options)
{
    run_options& o = options;
    if (o.restore) {
        const std::pair<bool, const char*> split_only[] = {
            {o.format.lossless, "--lossless"}, {o.format.raw_data, "--raw-data"}, {o.quality_given, "-q"},
            {o.format.codec->option != nullptr, o.format.codec->option}, {o.format.word != sheet_word::by_codec,
            "--sheet-word"}, {o.full_names, "--full-names"}, {o.skip_done, "--skip-done"}};
        for (const auto& [given, name] : split_only)
            if (given)
                return std::string("option '") + (name[0] == '-' ? "" : "--") + name +
                       "' does not go with '--restore': a restore writes the disc image as it was";
        return "";
    }
    if (o.format.lossless && o.quality_given)
        return "option '-q' does not go with '--lossless': it keeps the audio as FLAC, which is lossless";
    if (o.format.lossless)
        for (const audio_codec& codec : audio_codecs())
            if (codec.lossless != nullptr)
                o.format.codec = &codec;
    const audio_codec& codec = *o.format.codec;
    if (o.quality_given && codec.lossless != nullptr)
        return std::string("option '-q' does not go with '--") + codec.option + "': " + codec.lossless;
    return "";
}

command_line mistake(std::string line)
{
    command_line parsed;
    parsed.what = command_line::request::mistake;
    parsed.mistake = std::move(line);
    return parsed;
}

// Takes the value of option `id`; false when it is not one the option takes.
bool take_value(int id, const char* value, run_options& options)
{
    switch (id) {
    case 'j':
        return read_jobs(value, options.jobs);
    case 'o':
        options.output_dir = value;
        return *value != '\0';
    case full_names_option:
        options.full_names = true;
        return true;
    case skip_done_option:
        options.skip_done = true;
        return true;
    case report_option:
        options.report_path = value;
        return *value != '\0';
    case 'q':
        options.quality_given = true;
        return read_quality(value, options.format.quality);
    case sheet_word_option:
        return read_sheet_word(value, options.format.word);
    case text_encoding_option: {
        options.text_encoding = value;
        std::string ignored;
        return utf8_from_encoding(value, "", ignored);
    }
    case raw_data_option:
        options.format.raw_data = true;
        return true;
    case hash_option:
        options.hash = true;
        return true;
    case dat_option:
        options.dat_path = value;
        return *value != '\0';
    case lossless_option:
        options.format.lossless = true;
        return true;
    case restore_option:
        options.restore = true;
        return true;
    default:
        if (id < codec_option || static_cast<std::size_t>(id - codec_option) >= audio_codecs().size())
            return false;
        options.format.codec = &audio_codecs()[static_cast<std::size_t>(id - codec_option)];
        return true;
    }
}

// The option as the user wrote it: the whole argument when the value was
// attached to it ("-j3x", "--jobs=x"), else the argument before the value.
const char* option_as_written(char** argv, int next_index, const char* value)
{
    const char* last = argv[next_index - 1];
    const bool attached = value != last;
    return attached || next_index < 2 ? last : argv[next_index - 2];
}

std::vector<option> getopt_options()
{
    std::vector<option> options;
    for (const option_entry& entry : all_options())
        options.push_back(option{entry.name, entry.value != nullptr ? required_argument : no_argument, nullptr,
                                 entry.id});
    options.push_back(option{nullptr, 0, nullptr, 0});
    return options;
}

// "-" first: every sheet comes back in its place (and POSIXLY_CORRECT cannot
// end the options at the first sheet); ":" next: a missing value is told
// apart from an unknown option.
std::string getopt_letters()
{
    std::string letters = "-:";
    for (const option_entry& entry : option_table) {
        if (entry.id > 255)
            continue;
        letters += static_cast<char>(entry.id);
        if (entry.value != nullptr)
            letters += ':';
    }
    return letters;
}

} // namespace

command_line parse_command_line(int argc, char** argv)
{
    command_line parsed;
    bool help = false;
    bool version = false;
    const std::vector<option> options = getopt_options();
    const std::string letters = getopt_letters();
    opterr = 0;
    optind = 0;   // start afresh: the parser keeps its place between calls
    for (int id; (id = getopt_long(argc, argv, letters.c_str(), options.data(), nullptr)) != -1;) {
        const char* written = argv[optind - 1];
        if (id == 1) {
            parsed.sheets.push_back(optarg);
        } else if (id == 'h') {
            help = true;
        } else if (id == 'V') {
            version = true;
        } else if (id == ':') {
            return mistake(std::string("option '") + written + "' needs " + find_option(optopt)->needs);
        } else if (id == '?') {
            const bool long_name = std::strncmp(written, "--", 2) == 0;
            const std::string name = !long_name && optopt > 0 && optopt < 256
                                         ? std::string("-") + static_cast<char>(optopt)
                                         : std::string(written);
            return mistake("unknown option '" + name + "'");
        } else if (!take_value(id, optarg, parsed.options)) {
            return mistake(std::string("option '") + option_as_written(argv, optind, optarg) + "': '" + optarg +
                           "' is not " + find_option(id)->wanted);
        }
    }
    for (int i = optind; i < argc; ++i)
        parsed.sheets.push_back(argv[i]);
    if (const std::string clash = clashing_options(parsed.options); !clash.empty())
        return mistake(clash);
    if (help)
        parsed.what = command_line::request::help;
    else if (version)
        parsed.what = command_line::request::version;
    else
        parsed.what = parsed.sheets.empty() ? command_line::request::usage : command_line::request::split;
    return parsed;
}

bool wants_hashes(const run_options& options)
{
    return options.hash || !options.dat_path.empty() || options.format.lossless;
}

void print_usage(console& c)
{
    say(c, "trackcarve %s - splits a CD image into one file per track, by the trackcarve developers",
        TRACKCARVE_VERSION);
    say(c, "\n\n Use:\n\n      trackcarve file.cue\n");
    say(c, "\n");
}

namespace {

// "-j, --jobs N" or "    --flac": the option's name in the help.
std::string help_label(const option_entry& entry)
{
    std::string label = entry.id < 256 ? std::string("-") + static_cast<char>(entry.id) + ", " : "    ";
    label += std::string("--") + entry.name;
    if (entry.value != nullptr)
        label += std::string(" ") + entry.value;
    return label;
}

// The text in lines of at most 79 columns, broken at spaces; every line
// after the first indented to `indent`.
std::string wrapped(const std::string& text, std::size_t indent)
{
    constexpr std::size_t columns = 79;
    std::string lines;
    std::string line;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t word = text.find_first_not_of(' ', at);
        if (word == std::string::npos)
            break;
        const std::size_t word_end = std::min(text.find(' ', word), text.size());
        if (!line.empty() && line.size() + (word_end - at) > columns) {
            lines += line + "\n";
            line = std::string(indent, ' ') + text.substr(word, word_end - word);
        } else {
            line += text.substr(at, word_end - at);
        }
        at = word_end;
    }
    return lines + line + "\n";
}

std::string with_default_jobs(std::string text, int default_jobs)
{
    const std::size_t at = text.find("{jobs}");
    return at == std::string::npos ? text : text.replace(at, 6, std::to_string(default_jobs));
}

} // namespace

void print_help(console& c, int default_jobs)
{
    const std::vector<option_entry> entries = all_options();
    std::size_t width = 16;
    for (const option_entry& entry : entries)
        width = std::max(width, help_label(entry).size() + 2);
    std::string text = wrapped("Usage: trackcarve [OPTION]... SHEET.cue|DISC.chd|ARCHIVE.zip|ARCHIVE.7z...", 0) +
                       wrapped("  or:  trackcarve --restore [OPTION]... FOLDER...", 0) +
                       wrapped("Splits each CD image, a CUE sheet and its BIN files (or the sheets in a .zip or "
                               ".7z) or a CHD, into one file per "
                               "track, in a new folder beside it: trackN.iso for a data track, trackN.ogg (Ogg "
                               "Vorbis) for an audio track, NAME.toc listing them, and NAME.cue, a CUE sheet of "
                               "those files for emulators. Several sheets are split one after another. With "
                               "--restore, gives each split folder back as the disc image it was split from.",
                               0) +
                       "\n";
    for (const option_entry& entry : entries) {
        const std::string label = std::string(2, ' ').append(help_label(entry));
        text += wrapped(label + std::string(width + 2 - label.size(), ' ') +
                            with_default_jobs(entry.help, default_jobs),
                        width + 2);
    }
    const std::string end_of_options = "end of the options: every later argument is a sheet";
    text += wrapped(std::string("  --").append(width - 2, ' ').append(end_of_options), width + 2);
    text += "\n";
    text += wrapped("Exit status: 0 when every sheet was split cleanly, 1 when a run stopped on an error "
                           "or reported a problem on standard error, 2 for a bad command line.",
                           0);
    say(c, "%s", text.c_str());
}

void print_version(console& c)
{
    say(c, "trackcarve %s\n%s\nlibFLAC %s\n", TRACKCARVE_VERSION, vorbis_version_string(), FLAC__VERSION_STRING);
}

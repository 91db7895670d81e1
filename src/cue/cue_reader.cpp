#include "cue/cue_reader.h"

#include "cue/sheet_lines.h"
#include "cue/sheet_texts.h"

#include "base/paths.h"
#include "base/platform.h"

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <utility>

namespace {

constexpr std::size_t command_word_capacity = 256;
constexpr std::int32_t frames_per_second = 75;
constexpr std::int32_t frames_per_minute = 60 * frames_per_second;

// Values of the block of the TRACK line being read; stored at the next TRACK
// line or at the end of the sheet.
struct current_track {
    std::int32_t number;
    std::int32_t index1_frame;
    std::int32_t pregap_frames;
    std::int32_t is_audio;
    std::int32_t is_mode2;
    int line_number;   // of its TRACK line
    bool has_index;    // an INDEX 01 was read (00:00:00 is a position too)
    bool has_index0;   // and an INDEX 00: the BIN holds the track's gap
    char flags[track_flags_capacity];
};

struct cue_reader {
    const bin_probe& probe;
    cue_read& result;
    std::int64_t whole_sectors;   // of the BIN files read so far
    std::int64_t file_start;      // the current FILE's first sector in the virtual BIN
    bool file_counted;            // the current FILE's sectors are in whole_sectors: its first TRACK
                                  // (or the next FILE, or the end) has told their size
    int line_number;
    char command_word[command_word_capacity];
    current_track track;
    std::int32_t session;         // of REM SESSION: the tracks read from here on are in it; 0: none yet
    std::int32_t track_session;   // the session of the track being read
    text_keeper texts;
};

std::int32_t msf_to_frames(const std::uint32_t (&msf)[3])
{
    // Wraps like 32-bit C arithmetic; no range check, as sheets in the wild
    // sometimes carry seconds of 60 or more.
    const std::uint32_t frames = msf[0] * std::uint32_t{frames_per_minute} +
                                 msf[1] * std::uint32_t{frames_per_second} + msf[2];
    return static_cast<std::int32_t>(frames);
}

// Keeps the first error; message may name the command word with one "%s".
std::int32_t wrapping_add(std::int32_t frames, std::int64_t sectors)
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(frames) + static_cast<std::uint32_t>(sectors));
}

// detail: what the line holds and how to mend it, for standard error.
bool syntax_error(cue_reader& reader, const char* message, const std::string& detail)
{
    char text[command_word_capacity + 64];
    std::snprintf(text, sizeof text, message, reader.command_word);
    const std::string where = "line " + std::to_string(reader.line_number) + ": ";
    reader.result.error = cue_error{reader.line_number, text, where + detail};
    return false;
}

// A problem the run will report, in the order of the sheet's lines.
void notice(cue_reader& reader, const char* format, ...) __attribute__((format(printf, 2, 3)));
void notice(cue_reader& reader, const char* format, ...)
{
    char text[256];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    reader.result.sheet.notices.emplace_back(text);
}

// A count of sectors as the 32-bit records hold it: capped, not wrapped.
std::int32_t sectors_in(std::int64_t sectors)
{
    return static_cast<std::int32_t>(std::min<std::int64_t>(sectors, std::numeric_limits<std::int32_t>::max()));
}

void store_current_track(cue_reader& reader)
{
    const current_track& t = reader.track;
    if (t.number == 0)
        return;
    // Every track, track 1 too, starts at its INDEX 01: without one it is a guess.
    if (!t.has_index)
        notice(reader, "line %i: track %i has no INDEX 01; it is placed at 00:00:00", t.line_number,
               static_cast<int>(t.number));
    track_record& record = reader.result.sheet.records[t.number];
    record.bin_sectors = sectors_in(reader.whole_sectors);
    record.index1_frame = t.index1_frame;
    record.pregap_frames = t.pregap_frames;
    record.is_audio = t.is_audio;
    record.is_mode2 = t.is_mode2;
    record.session = reader.track_session;
    record.gap_in_bin = t.has_index0;
    std::memcpy(record.flags, t.flags, sizeof record.flags);
}

// The name of a FILE line, into name; returns where the file's type word
// starts, or null when the line is malformed. A quoted name runs to its
// closing quote; an unquoted one, as every reader of CUE sheets takes it, is
// the words between FILE and the last word, the type.
const char* read_file_name(const char* p, char (&name)[path_capacity])
{
    const char* start = p;
    const char* end = nullptr;
    const char* type = nullptr;
    if (*p == '"') {
        start = p + 1;
        end = start;
        while (*end != '"' && !ends_line(*end))
            ++end;
        if (*end != '"')
            return nullptr;
        type = skip_blanks(end + 1);
    } else {
        const char* line_end = p;
        while (!ends_line(*line_end) || *line_end == '\t')
            ++line_end;
        while (line_end > p && is_blank(line_end[-1]))
            --line_end;
        type = line_end;
        while (type > p && !is_blank(type[-1]))
            --type;
        end = type;
        while (end > p && is_blank(end[-1]))
            --end;
        if (end == p)
            return nullptr;   // one word: a name without a type, or a type without a name
    }
    const auto length = static_cast<std::size_t>(end - start);
    if (ends_line(*type) || length >= path_capacity)
        return nullptr;
    std::memcpy(name, start, length);
    name[length] = '\0';
    return type;
}

// Adds the current file's sectors to the virtual BIN, once their size is known.
void count_current_file(cue_reader& reader)
{
    if (reader.file_counted || reader.result.sheet.bin_files.empty())
        return;
    const bin_file_entry& file = reader.result.sheet.bin_files.back();
    reader.whole_sectors += whole_sectors_of(file);
    reader.file_counted = true;
    const std::int64_t tail = file.size_bytes % raw_sector_size;
    if (is_audio_file(file) && tail != 0)
        notice(reader, "line %i: %s ends %lld audio frames into a sector; the sector is filled with silence",
               file.line_number, file.name.c_str(), static_cast<long long>(tail / 4));
}

bool refuse_file(cue_reader& reader, const char* name, const std::string& what)
{
    return syntax_error(reader, ("CMD: %s holds " + what).c_str(),
                        std::string(name) + " holds " + what +
                            ", which is not read (a FILE holds raw sectors, or WAVE or FLAC audio of 16-bit "
                            "44.1 kHz stereo): convert it to such a FLAC or WAVE file");
}

// Every FILE line adds its file's whole sectors to one virtual BIN; the
// INDEX times after it count from the file's first sector.
bool read_file_command(cue_reader& reader, const char* p)
{
    char name[path_capacity];
    const char* type = read_file_name(p, name);
    if (type == nullptr)
        return syntax_error(reader, "CMD: %s",
                            "a FILE line is FILE \"NAME\" BINARY, its name at most " +
                                std::to_string(path_capacity - 1) + " bytes; this one is FILE " + found_text(p));
    const type_word word = read_type_word(type);
    if (word == type_word::unknown)
        return syntax_error(reader, "CMD: %s is not BINARY form",
                            "the FILE type is " + found_text(type) +
                                "; the types read are BINARY, MOTOROLA, WAVE and FLAC: convert " +
                                file_name_from_sheet(name) + " to one of them and write its type on this line");

    // The name is made UTF-8 first: in another encoding (Shift-JIS, say) a
    // byte of a character can be a '\'.
    const std::string utf8_name = file_name_from_sheet(name);
    const bin_found found = reader.probe(utf8_name.c_str(), names_raw_sectors(word));
    if (found.size_bytes < 0)
        return syntax_error(reader, "CMD: %s Open fail", found.problem);
    const std::string& bin_name = found.name.empty() ? utf8_name : found.name;
    const file_content content = reading_of(word, found.content);
    if (!content.refusal.empty())
        return refuse_file(reader, bin_name.c_str(), content.refusal);

    count_current_file(reader);
    reader.result.sheet.bin_files.push_back(
        bin_file_entry{bin_name, reader.line_number, content.size_bytes, content.kind, content.data_offset,
                       raw_sector_size, found.size_bytes});
    reader.file_start = reader.whole_sectors;
    reader.file_counted = false;
    return true;
}

// A file's first TRACK tells the size of its sectors: a raw file whose first
// track is MODE1/2048 holds 2048 bytes of user data a sector. Each later
// track of the file must be of that size too, and an audio file holds audio
// tracks only.
bool fit_track_to_file(cue_reader& reader, bool is_audio, bool is_user_data)
{
    if (reader.result.sheet.bin_files.empty())
        return true;
    bin_file_entry& file = reader.result.sheet.bin_files.back();
    const char* misfit = nullptr;
    if (is_audio_file(file) && !is_audio)
        misfit = "a data track in an audio file";
    else if (!reader.file_counted && is_user_data)
        file.sector_bytes = mode1_user_data_bytes;
    else if (reader.file_counted && (file.sector_bytes == mode1_user_data_bytes) != is_user_data)
        misfit = "2048-byte and 2352-byte sectors in one file";
    if (misfit != nullptr)
        return syntax_error(reader, "Invalid Track", std::string(misfit) + ": the track cannot be read");
    count_current_file(reader);
    return true;
}

bool read_track_command(cue_reader& reader, const char* p)
{
    store_current_track(reader);
    reader.track = current_track{};

    // Saturate just above the table's range, so no number wraps back into it.
    const char* const number_at = p;
    std::int32_t number = 0;
    for (; *p >= '0' && *p <= '9'; ++p)
        number = std::min(number * 10 + (*p - '0'), max_tracks + 1);
    p = skip_blanks(p);
    if (number == 0 || number > max_tracks)
        return syntax_error(reader, "Invalid Track",
                            "TRACK " + found_text(number_at) + ": a track's number is 1 to 99, then its mode");

    const bool is_user_data = starts_with(p, "MODE1/2048");
    if (starts_with(p, "AUDIO"))
        reader.track.is_audio = 1;
    else if (starts_with(p, "MODE2"))
        reader.track.is_mode2 = 1;
    else if (!starts_with(p, "MODE1/2352") && !is_user_data)
        return syntax_error(reader, "Invalid Track",
                            "the track mode is " + found_text(p) +
                                "; the modes read are AUDIO, MODE1/2352, MODE1/2048 and MODE2/2352");
    if (!fit_track_to_file(reader, reader.track.is_audio != 0, is_user_data))
        return false;
    // Every sector is taken as 2352 bytes: a MODE2/2336 image comes out wrong.
    if (reader.track.is_mode2 != 0 && !is_word(p, "MODE2/2352"))
        notice(reader, "line %i: track %i is %.*s, read as if its sectors were MODE2/2352; its data will be wrong",
               reader.line_number, static_cast<int>(number), static_cast<int>(word_length(p, 32)), p);

    // A number out of sequence leaves records the sheet never filled, and
    // files for tracks it never listed: the run goes on, but says so.
    std::int32_t& track_count = reader.result.sheet.track_count;
    if (number != track_count + 1)
        notice(reader, "line %i: TRACK %i follows track %i; the track files will not match the sheet",
               reader.line_number, static_cast<int>(number), static_cast<int>(track_count));
    track_count = number;
    reader.track.number = number;
    reader.track_session = reader.session;
    // Where a track without an INDEX 01 is placed: 00:00:00 of its file.
    reader.track.index1_frame = wrapping_add(0, reader.file_start);
    reader.track.line_number = reader.line_number;
    return true;
}

bool read_index_command(cue_reader& reader, const char* p)
{
    const char* const line_rest = p;
    // Saturates: only 0 and 1 matter.
    int index = 0;
    for (; *p >= '0' && *p <= '9'; ++p)
        index = std::min(index * 10 + (*p - '0'), 100);

    std::uint32_t msf[3];
    if (scan_msf(skip_blanks(p), msf) < 3)
        return syntax_error(reader, "Invalid Track Index",
                            "INDEX " + found_text(line_rest) + ": an INDEX line is INDEX 01 mm:ss:ff");
    if (reader.track.number == 0) {
        notice(reader, "line %i: INDEX before the first TRACK is ignored", reader.line_number);
        return true;
    }
    // INDEX 00 only marks where the gap that the BIN holds begins: the gap
    // ends the track before, so its time is not needed, and it leaves a
    // PREGAP of the track as it is. INDEX 01 is where the track starts;
    // INDEX 02 and up only mark places inside it.
    if (index == 0) {
        reader.track.has_index0 = true;
    } else if (index == 1) {
        reader.track.index1_frame = wrapping_add(msf_to_frames(msf), reader.file_start);
        reader.track.has_index = true;
    }
    return true;
}

bool read_pregap_command(cue_reader& reader, const char* p)
{
    std::uint32_t msf[3];
    if (scan_msf(p, msf) < 3)
        return syntax_error(reader, "Invalid Track Pregap",
                            "PREGAP " + found_text(p) + ": a PREGAP line is PREGAP mm:ss:ff");
    if (reader.track.number == 0)
        notice(reader, "line %i: PREGAP before the first TRACK is ignored", reader.line_number);
    else
        reader.track.pregap_frames = msf_to_frames(msf);
    return true;
}

// FLAGS DCP 4CH PRE SCMS: the track's subcode flags, kept for the emulator
// sheet. Only the four flag words are kept, once each, in the line's order;
// the last FLAGS line of a track wins.
void read_flags_command(cue_reader& reader, const char* p)
{
    if (reader.track.number == 0)
        return;
    char (&flags)[track_flags_capacity] = reader.track.flags;
    std::size_t length = 0;
    for (p = skip_blanks(p); !ends_line(*p); p = skip_blanks(p + word_length(p, cue_line_capacity))) {
        char word[8] = {};
        const std::size_t size = word_length(p, sizeof word);
        for (std::size_t i = 0; i < size && size < sizeof word; ++i)
            word[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(p[i])));
        const bool known = std::strcmp(word, "DCP") == 0 || std::strcmp(word, "4CH") == 0 ||
                           std::strcmp(word, "PRE") == 0 || std::strcmp(word, "SCMS") == 0;
        flags[length] = '\0';
        if (!known || std::strstr(flags, word) != nullptr)
            continue;
        length += static_cast<std::size_t>(
            std::snprintf(flags + length, sizeof flags - length, "%s%s", length > 0 ? " " : "", word));
    }
    flags[length] = '\0';
}

// REM SESSION nn: the session the tracks after it are in.
bool read_rem_session(cue_reader& reader, const char* p)
{
    if (!is_word_in_any_case(p, "SESSION"))
        return false;
    p = skip_blanks(p + 7);
    std::int32_t session = 0;
    for (; *p >= '0' && *p <= '9'; ++p)
        session = std::min(session * 10 + (*p - '0'), 99);
    reader.session = session;
    return true;
}

// Splits off the command word (upper-cased) and hands the argument to its
// command. Lines without an argument and unknown commands are skipped.
bool read_cue_line(cue_reader& reader, const char* line)
{
    const char* p = skip_blanks(line);
    if (ends_line(*p))
        return true;
    const char* const command = p;

    std::size_t length = 0;
    for (; static_cast<unsigned char>(*p) > 32; ++p, ++length) {
        if (length < command_word_capacity - 1)
            reader.command_word[length] = static_cast<char>(std::toupper(static_cast<unsigned char>(*p)));
    }
    if (length >= command_word_capacity)
        return true;   // too long to be one of the commands
    reader.command_word[length] = '\0';

    p = skip_blanks(p);
    if (ends_line(*p))
        return true;

    const char* word = reader.command_word;
    if (std::strcmp(word, "FILE") == 0)
        return read_file_command(reader, p);
    if (std::strcmp(word, "TRACK") == 0)
        return read_track_command(reader, p);
    if (std::strcmp(word, "INDEX") == 0)
        return read_index_command(reader, p);
    if (std::strcmp(word, "PREGAP") == 0)
        return read_pregap_command(reader, p);
    if (std::strcmp(word, "FLAGS") == 0)
        read_flags_command(reader, p);
    else if (std::strcmp(word, "REM") != 0 || !read_rem_session(reader, p))
        keep_text_line(reader.texts, reader.track.number, word, command, p, reader.line_number);
    return true;
}

} // namespace

const std::string* find_text(const cue_sheet& sheet, std::int32_t track, text_field field)
{
    for (const sheet_text& text : sheet.texts)
        if (text.track == track && text.field == field)
            return &text.value;
    return nullptr;
}

namespace {

cue_read read_cue_stream(sheet_stream stream, const bin_probe& probe)
{
    cue_read result{};
    cue_reader reader{probe, result, 0, 0, true, 0, {}, {}, 0, 0, {}};
    reader.texts.texts = &result.sheet.texts;
    result.sheet.unicode = stream.unicode;

    char line[cue_line_capacity];
    while (read_line(stream, line, cue_line_capacity)) {
        ++reader.line_number;
        if (!read_cue_line(reader, line))
            return result;
    }
    count_current_file(reader);
    store_current_track(reader);
    result.ok = true;
    return result;
}

} // namespace

cue_read read_cue_sheet(std::FILE* cue_file, const bin_probe& probe)
{
    return read_cue_stream(open_sheet_stream(cue_file), probe);
}

cue_read read_cue_text(const std::string& text, const bin_probe& probe)
{
    return read_cue_stream(open_sheet_stream(text), probe);
}

// Feeds arbitrary bytes to the CUE reader as a sheet, lays out whatever it
// accepts, and checks what the run builds on: the reader either accepts the
// sheet or returns exactly one known error, with a line number inside the
// sheet; its notices are well formed and name lines of the sheet; the layout
// leaves the last track with a length of 0 or more; and the TOC is framed by
// Leadin/Leadout with one line per track, in order.
//
// Everything lives in memory: the BINs a sheet may name exist only as sizes.
//   f.bin  5 sectors and a partial one      e.bin  empty
//   h.bin  8 TiB                            any other name cannot be opened
#include "base/file_stream.h"
#include "cue/cue_reader.h"
#include "cue/layout.h"
#include "extract/audio_codecs.h"
#include "output/toc_file.h"
#include "fuzz_support.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace {

[[noreturn]] void fail(const char* format, ...) __attribute__((format(printf, 1, 2)));
void fail(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    fail_with("fuzz_cue_sheet", format, arguments);
}

bool starts_with(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

std::int64_t fake_bin_size(const char* name, bool)
{
    const std::string_view n = name;
    if (n == "f.bin")
        return 5 * raw_sector_size + 1000;
    if (n == "e.bin")
        return 0;
    if (n == "h.bin")
        return std::int64_t{1} << 43;
    return -1;
}

void check_error(const cue_error& error, std::size_t sheet_size)
{
    static constexpr std::string_view messages[] = {
        "Only can be one BIN FILE!!!", "CMD: FILE", "CMD: FILE is not BINARY form", "CMD: FILE Open fail",
        "Invalid Track", "Invalid Track Index", "Invalid Track Pregap",
    };
    // Every line the reader counts holds at least one byte of the sheet.
    if (error.line_number <= 0 || static_cast<std::size_t>(error.line_number) > sheet_size)
        fail("error line number %d out of range", error.line_number);
    for (const std::string_view message : messages)
        if (error.message == message)
            return;
    if (starts_with(error.message, "CMD: FILE holds "))
        return;
    fail("unknown error: \"%s\"", error.message.c_str());
}

bool ends_with(std::string_view text, std::string_view suffix)
{
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

// The reader's notices, one line each, "line N: " and one of its
// sentences: a TRACK out of sequence, a MODE2 track that is not
// MODE2/2352, a track without an INDEX 01, an INDEX or a PREGAP line
// before the first TRACK, a FILE type or a file that is not read, an audio
// file's last sector filled, a track that its file cannot hold. N is a line of the sheet.
void check_notices(const cue_sheet& sheet, std::size_t sheet_size)
{
    for (const std::string& notice : sheet.notices) {
        const std::string_view text = notice;
        std::size_t digits = 5;
        while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9')
            ++digits;
        const std::string_view said = text.substr(std::min(digits + 2, text.size()));
        const bool known =
            (starts_with(said, "TRACK ") && said.find(" follows track ") != std::string_view::npos &&
             ends_with(said, "; the track files will not match the sheet")) ||
            (starts_with(said, "track ") && said.find(" is MODE2") != std::string_view::npos &&
             ends_with(said, ", read as if its sectors were MODE2/2352; its data will be wrong")) ||
            (starts_with(said, "track ") && ends_with(said, " has no INDEX 01; it is placed at 00:00:00")) ||
            said == "INDEX before the first TRACK is ignored" || said == "PREGAP before the first TRACK is ignored" ||
            (starts_with(said, "FILE type ") && ends_with(said, " is not read: BINARY, MOTOROLA, WAVE and FLAC are")) ||
            (said.find(" holds ") != std::string_view::npos &&
             ends_with(said, "): convert it to such a FLAC or WAVE file")) ||
            ends_with(said, " audio frames into a sector; the sector is filled with silence") ||
            said == "a data track in an audio file: the track cannot be read" ||
            said == "2048-byte and 2352-byte sectors in one file: the track cannot be read";
        if (!starts_with(text, "line ") || digits == 5 || digits > 15 || text.substr(digits, 2) != ": " || !known ||
            text.find('\n') != std::string_view::npos)
            fail("malformed notice \"%s\"", notice.c_str());
        const long long line = std::stoll(std::string(text.substr(5, digits - 5)));
        if (line <= 0 || static_cast<std::size_t>(line) > sheet_size)
            fail("notice of line %lld, outside the sheet", line);
    }
}

void check_toc(std::string_view toc, const disc_layout& layout)
{
    static constexpr std::string_view leadin = "Leadin\r\n";
    static constexpr std::string_view leadout = "Leadout\r\n";
    if (!starts_with(toc, leadin) || toc.size() < leadin.size() + leadout.size() ||
        toc.substr(toc.size() - leadout.size()) != leadout)
        fail("TOC not framed by Leadin and Leadout");
    std::int32_t tracks_seen = 0;
    for (std::size_t p = leadin.size(); p < toc.size() - leadout.size();) {
        const std::size_t end = toc.find("\r\n", p);
        if (end == std::string_view::npos)
            fail("TOC line without CR LF");
        const std::string_view line = toc.substr(p, end - p);
        if (starts_with(line, "track")) {
            ++tracks_seen;
            const std::string expected = "track" + std::to_string(tracks_seen) +
                                         (layout.tracks[tracks_seen].is_audio != 0 ? ".ogg " : ".iso ");
            if (!starts_with(line, expected))
                fail("TOC track line %d out of order: \"%.*s\"", tracks_seen, static_cast<int>(line.size()),
                     line.data());
        } else if (!starts_with(line, "Pregap: ")) {
            fail("unexpected TOC line: \"%.*s\"", static_cast<int>(line.size()), line.data());
        }
        p = end + 2;
    }
    if (tracks_seen != layout.track_count)
        fail("TOC has %d track lines for %d tracks", tracks_seen, layout.track_count);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // fmemopen refuses an empty buffer; /dev/null is an empty sheet too.
    std::FILE* sheet = size > 0 ? fmemopen(const_cast<std::uint8_t*>(data), size, "r") : std::fopen("/dev/null", "r");
    if (sheet == nullptr)
        fail("cannot open the sheet stream");
    file_stream cue_file(sheet);

    const cue_read read = read_cue_sheet(cue_file.get(), fake_bin_size);
    check_notices(read.sheet, size);
    if (!read.ok) {
        check_error(read.error, size);
        return 0;
    }
    if (read.sheet.track_count < 0 || read.sheet.track_count > max_tracks)
        fail("track count %d", read.sheet.track_count);

    const disc_layout layout = lay_out_tracks(read.sheet);
    if (layout.track_count > 0 && layout.tracks[layout.track_count].length_sectors < 0)
        fail("last track left with a negative length");
    captured_stream toc;
    write_toc(toc.file, layout, default_track_format());
    check_toc(toc.contents(), layout);
    return 0;
}

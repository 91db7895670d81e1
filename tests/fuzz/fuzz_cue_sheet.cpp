// Feeds arbitrary bytes to the CUE reader as a sheet, lays out whatever it
// accepts, and checks what the run builds on: the reader either accepts the
// sheet silently or prints exactly one known error line; the table it fills
// stays in range; the TOC is framed by Leadin/Leadout with one line per
// track; and every track the layout pass leaves with a negative length is
// reported, one "trackcarve: " line each, and makes the pass fail.
//
// The sheet lives in memory; cue_dir is a temporary folder made once at
// start-up holding the BINs a sheet may name:
//   f.bin  5 sectors and a partial one      e.bin  empty
//   d.bin  a directory                       h.bin  a sparse 8 TiB file (when the
//                                                   file system allows it)
#include "cue/cue_reader.h"
#include "cue/layout.h"

#include <unistd.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>

namespace {

std::string cue_dir;   // ends in '/'

[[noreturn]] void fail(const char* format, ...) __attribute__((format(printf, 1, 2)));
void fail(const char* format, ...)
{
    std::fputs("fuzz_cue_sheet: ", stderr);
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(stderr, format, arguments);
    va_end(arguments);
    std::fputc('\n', stderr);
    std::abort();
}

void write_bytes(const std::string& path, const std::string& bytes)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size() ||
        std::fclose(file) != 0)
        fail("cannot write %s", path.c_str());
}

void remove_scratch() { std::filesystem::remove_all(cue_dir); }

// An in-memory stream that collects what the code under test prints.
struct captured_stream {
    char* text = nullptr;
    std::size_t length = 0;
    std::FILE* file = open_memstream(&text, &length);

    captured_stream()
    {
        if (file == nullptr)
            fail("open_memstream failed");
    }
    ~captured_stream()
    {
        if (file != nullptr)
            std::fclose(file);
        std::free(text);
    }
    captured_stream(const captured_stream&) = delete;
    captured_stream& operator=(const captured_stream&) = delete;

    std::string_view contents()
    {
        std::fflush(file);
        return {text, length};
    }
};

// Points the C library's stdout or stderr at a capture for one call; the
// fuzzer's own output and the sanitizers' reports keep the original stream
// and file descriptor 2.
class redirect {
public:
    redirect(std::FILE*& standard_stream, std::FILE* target) : stream_(standard_stream), saved_(standard_stream)
    {
        std::fflush(saved_);
        stream_ = target;
    }
    ~redirect() { stream_ = saved_; }
    redirect(const redirect&) = delete;
    redirect& operator=(const redirect&) = delete;

private:
    std::FILE*& stream_;
    std::FILE* saved_;
};

bool starts_with(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

// The reader's only console output is one of its error lines.
void check_error_line(std::string_view console, std::size_t sheet_size)
{
    static constexpr std::string_view lead = "Error!! line ";
    static constexpr std::string_view endings[] = {
        " Only can be one BIN FILE!!!\n", " CMD: FILE\n", " CMD: FILE is not BINARY form\n",
        " CMD: FILE Open fail\n", " Invalid Track\n", " Invalid Track Index\n", " Invalid Track Pregap\n",
    };
    if (!starts_with(console, lead))
        fail("rejected sheet without an error line: \"%.*s\"", static_cast<int>(console.size()), console.data());
    std::size_t p = lead.size();
    std::uint64_t line = 0;
    while (p < console.size() && console[p] >= '0' && console[p] <= '9' && line <= sheet_size)
        line = line * 10 + static_cast<std::uint64_t>(console[p++] - '0');
    // Every line the reader counts holds at least one byte of the sheet.
    if (line == 0 || line > sheet_size)
        fail("error line number out of range: \"%.*s\"", static_cast<int>(console.size()), console.data());
    const std::string_view rest = console.substr(p);
    for (const std::string_view ending : endings)
        if (rest == ending)
            return;
    fail("unknown error line: \"%.*s\"", static_cast<int>(console.size()), console.data());
}

void check_toc(std::string_view toc, const track_table& table)
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
                                         (table.records[tracks_seen].is_audio != 0 ? ".ogg " : ".iso ");
            if (!starts_with(line, expected))
                fail("TOC track line %d out of order: \"%.*s\"", tracks_seen, static_cast<int>(line.size()),
                     line.data());
        } else if (!starts_with(line, "Pregap: ")) {
            fail("unexpected TOC line: \"%.*s\"", static_cast<int>(line.size()), line.data());
        }
        p = end + 2;
    }
    if (tracks_seen != table.track_count)
        fail("TOC has %d track lines for %d tracks", tracks_seen, table.track_count);
}

// Counts the lines of standard error, each of which must begin with prefix.
int count_problem_lines(std::string_view problems, std::string_view prefix)
{
    int lines = 0;
    for (std::size_t p = 0; p < problems.size(); ++lines) {
        if (!starts_with(problems.substr(p), prefix))
            fail("problem line without its prefix %.*s", static_cast<int>(prefix.size()), prefix.data());
        const std::size_t end = problems.find('\n', p);
        if (end == std::string_view::npos)
            fail("problem line without a line end");
        p = end + 1;
    }
    return lines;
}

// The reader's only other words: one line per TRACK out of sequence.
void check_numbering(std::string_view problems, const track_table& table)
{
    const int lines = count_problem_lines(problems, "trackcarve: line ");
    if ((lines == 0) != table.numbered_in_order)
        fail("%d numbering lines, numbered_in_order %d", lines, table.numbered_in_order);
}

void check_layout(const track_table& table, bool lengths_valid, std::string_view problems)
{
    int negative = 0;
    for (std::int32_t number = 1; number <= table.track_count; ++number)
        if (table.records[number].length_sectors < 0)
            ++negative;
    if (table.track_count > 0 && table.records[table.track_count].length_sectors < 0)
        fail("last track left with a negative length");
    if (lengths_valid != (negative == 0))
        fail("layout returned %d with %d negative lengths", lengths_valid, negative);
    const int lines = count_problem_lines(problems, "trackcarve: track ");
    if (lines != negative)
        fail("%d problem lines for %d negative lengths", lines, negative);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/trackcarve_fuzz_XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr)
        fail("mkdtemp failed");
    cue_dir = pattern + "/";
    std::atexit(remove_scratch);

    std::string bin(5 * raw_sector_size + 1000, '\0');
    for (std::size_t i = 0; i < bin.size(); ++i)
        bin[i] = static_cast<char>(i * 7 + i / raw_sector_size);
    write_bytes(cue_dir + "f.bin", bin);
    write_bytes(cue_dir + "e.bin", "");
    std::filesystem::create_directory(cue_dir + "d.bin");
    // A size past what 32 bits of sectors can count; skipped where sparse
    // files this large are refused.
    if (std::FILE* sparse = std::fopen((cue_dir + "h.bin").c_str(), "wb")) {
        if (ftruncate(fileno(sparse), off_t{1} << 43) != 0 && ftruncate(fileno(sparse), off_t{1} << 40) != 0)
            std::fputs("fuzz_cue_sheet: no sparse h.bin\n", stderr);
        std::fclose(sparse);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // fmemopen refuses an empty buffer; /dev/null is an empty sheet too.
    std::FILE* sheet = size > 0 ? fmemopen(const_cast<std::uint8_t*>(data), size, "r") : std::fopen("/dev/null", "r");
    if (sheet == nullptr)
        fail("cannot open the sheet stream");
    file_stream cue_file(sheet);

    track_table table;
    file_stream bin_file;
    bool accepted = false;
    captured_stream console;
    captured_stream numbering;
    {
        const redirect to_capture(stdout, console.file);
        const redirect to_numbering(stderr, numbering.file);
        accepted = read_cue_sheet(cue_file.get(), cue_dir.c_str(), table, bin_file);
    }
    check_numbering(numbering.contents(), table);
    if (!accepted) {
        check_error_line(console.contents(), size);
        return 0;
    }
    if (!console.contents().empty())
        fail("accepted sheet printed \"%.*s\"", static_cast<int>(console.contents().size()), console.contents().data());
    if (table.track_count < 0 || table.track_count > max_tracks)
        fail("track count %d", table.track_count);

    captured_stream toc;
    captured_stream problems;
    bool lengths_valid = false;
    {
        const redirect to_capture(stderr, problems.file);
        lengths_valid = lay_out_tracks(table, toc.file);
    }
    check_toc(toc.contents(), table);
    check_layout(table, lengths_valid, problems.contents());
    return 0;
}

#include "cue/cue_reader.h"
#include "cue/layout.h"

#include "support.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

using bin_sizes = std::map<std::string, std::int64_t>;

struct read_outcome {
    bool ok;
    std::string console;               // the error line as the run prints it, or ""
    cue_sheet sheet;
    std::vector<std::string> probed;   // the names the reader asked to open
    bool bin_open() const { return !sheet.bin_files.empty(); }
};

// Reads a sheet from memory; the BIN files it may name exist only as sizes.
read_outcome read_sheet(const std::string& text, const bin_sizes& sizes)
{
    file_stream cue_file(text.empty() ? std::fopen("/dev/null", "rb")
                                      : fmemopen(const_cast<char*>(text.data()), text.size(), "rb"));
    read_outcome outcome{};
    const cue_read read = read_cue_sheet(cue_file.get(), [&](const char* name, bool) -> std::int64_t {
        outcome.probed.emplace_back(name);
        const auto size = sizes.find(name);
        return size == sizes.end() ? -1 : size->second;
    });
    outcome.ok = read.ok;
    outcome.sheet = read.sheet;
    if (!read.ok)
        outcome.console = "Error!! line " + std::to_string(read.error.line_number) + " " + read.error.message + "\n";
    return outcome;
}

class CueReader : public testing::Test {
protected:
    read_outcome read(const std::string& text) { return read_sheet(text, {{"game.bin", 1'000'000}}); }
};

} // namespace

TEST_F(CueReader, ReadsTracksIndexesAndPregaps)
{
    const read_outcome r = read("FILE \"game.bin\" BINARY\n"
                                "  TRACK 01 MODE1/2352\n"
                                "    INDEX 01 00:00:00\n"
                                "  TRACK 02 AUDIO\n"
                                "    PREGAP 00:02:00\n"
                                "    INDEX 01 20:00:00\n"
                                "  TRACK 03 AUDIO\n"
                                "    INDEX 00 23:28:00\n"
                                "    INDEX 01 04:58:00\n"
                                "    INDEX 02 05:00:00\n");
    ASSERT_TRUE(r.ok) << r.console;
    EXPECT_EQ(r.console, "");
    EXPECT_TRUE(r.bin_open());
    EXPECT_EQ(r.sheet.track_count, 3);
    const track_record* t = r.sheet.records;
    // 1,000,000 bytes hold 425 whole sectors; the last 400 bytes don't count.
    EXPECT_EQ(t[1].bin_sectors, 425);
    EXPECT_EQ(t[1].is_audio, 0);
    EXPECT_EQ(t[2].index1_frame, 90000);
    EXPECT_EQ(t[2].pregap_frames, 150);
    EXPECT_EQ(t[2].is_audio, 1);
    EXPECT_EQ(t[3].pregap_frames, 0);
    EXPECT_EQ(t[3].index1_frame, 22350);   // INDEX 01: INDEX 02 only marks a place in the track
}

TEST_F(CueReader, CommandWordIsCaseInsensitiveButArgumentsAreNot)
{
    read_outcome r = read("FILE \"game.bin\" BINARY\n\t track 1 AUDIO\n  index 01 00:00:10\n");
    ASSERT_TRUE(r.ok) << r.console;
    EXPECT_EQ(r.sheet.records[1].index1_frame, 10);
    EXPECT_EQ(read("FILE \"game.bin\" BINARY\nTRACK 01 audio\n").console, "Error!! line 2 Invalid Track\n");
    EXPECT_EQ(read("file \"game.bin\" binary\n").console, "Error!! line 1 CMD: FILE is not BINARY form\n");
}

TEST_F(CueReader, BlankLinesAreCountedInErrorLineNumbers)
{
    EXPECT_EQ(read("\n   \n\t\nREM x\nTRACK 00 AUDIO\n").console, "Error!! line 5 Invalid Track\n");
    EXPECT_EQ(read("\r\n\r\nTRACK 00 AUDIO\r\n").console, "Error!! line 3 Invalid Track\n");
    // A lone CR ends a line as well.
    EXPECT_EQ(read("REM a\rREM b\rTRACK 00 AUDIO\r").console, "Error!! line 3 Invalid Track\n");
}

TEST_F(CueReader, FileLineErrors)
{
    EXPECT_EQ(read("FILE game.bin\n").console, "Error!! line 1 CMD: FILE\n");
    EXPECT_EQ(read("FILE \"game.bin BINARY\n").console, "Error!! line 1 CMD: FILE\n");
    EXPECT_EQ(read("FILE \"game.bin\"   \n").console, "Error!! line 1 CMD: FILE\n");
    EXPECT_EQ(read("FILE \"game.bin\" MP4\n").console, "Error!! line 1 CMD: FILE is not BINARY form\n");
    EXPECT_EQ(read("FILE \"missing.bin\" BINARY\n").console, "Error!! line 1 CMD: FILE Open fail\n");
    // An empty name or one ending in a separator names the directory itself.
    EXPECT_EQ(read("FILE \"\" BINARY\n").console, "Error!! line 1 CMD: FILE Open fail\n");
    EXPECT_EQ(read("FILE \"sub/\" BINARY\n").console, "Error!! line 1 CMD: FILE Open fail\n");
    // BINARY is a prefix test.
    EXPECT_TRUE(read("FILE \"game.bin\" BINARYX\n").ok);
}

// ---- several FILE lines: one virtual BIN of the files' whole sectors

namespace {

constexpr std::int64_t sectors(std::int64_t count) { return count * 2352; }

struct span_triple {
    std::int32_t start, length, is_audio;
    bool operator==(const span_triple&) const = default;
};

std::vector<span_triple> spans(const cue_sheet& sheet)
{
    const disc_layout layout = lay_out_tracks(sheet);
    std::vector<span_triple> result;
    for (std::int32_t n = 1; n <= layout.track_count; ++n)
        result.push_back({layout.tracks[n].start_sector, layout.tracks[n].length_sectors, layout.tracks[n].is_audio});
    return result;
}

} // namespace

TEST(CueReaderFiles, IndexTimesCountFromTheStartOfTheirFile)
{
    // A dump with one file per track, the second beginning with its gap.
    const read_outcome r = read_sheet("FILE \"g (Track 1).bin\" BINARY\n  TRACK 01 MODE2/2352\n    INDEX 01 00:00:00\n"
                                      "FILE \"g (Track 2).bin\" BINARY\n  TRACK 02 AUDIO\n    PREGAP 00:01:00\n"
                                      "    INDEX 00 00:00:00\n    INDEX 01 00:02:00\n",
                                      {{"g (Track 1).bin", sectors(1000)}, {"g (Track 2).bin", sectors(600)}});
    ASSERT_TRUE(r.ok) << r.console;
    EXPECT_EQ(r.sheet.records[2].bin_sectors, 1600);
    EXPECT_EQ(r.sheet.records[2].index1_frame, 1150);
    // The gap at the head of file 2 ends track 1, as in a single BIN.
    EXPECT_EQ(spans(r.sheet), (std::vector<span_triple>{{0, 1150, 0}, {1150, 450, 1}}));
    ASSERT_EQ(r.sheet.bin_files.size(), 2u);
    EXPECT_EQ(r.sheet.bin_files[1].line_number, 4);
}

TEST(CueReaderFiles, NinetyNineFilesAndAnIncompleteSectorInTheMiddle)
{
    std::string sheet;
    bin_sizes sizes;
    std::int64_t total = 0;
    for (int n = 1; n <= 99; ++n) {
        const std::string name = std::to_string(n) + ".bin";
        sheet += "FILE \"" + name + "\" BINARY\nTRACK " + std::to_string(n) + " AUDIO\nINDEX 01 00:00:05\n";
        // File 50 ends in 1000 bytes of a sector: left out, file 51 starts on a whole sector.
        sizes[name] = sectors(100 + n) + (n == 50 ? 1000 : 0);
        total += 100 + n;
    }
    const read_outcome r = read_sheet(sheet, sizes);
    ASSERT_TRUE(r.ok) << r.console;
    EXPECT_EQ(r.sheet.bin_files.size(), 99u);
    EXPECT_EQ(r.sheet.records[1].index1_frame, 5);
    EXPECT_EQ(r.sheet.records[2].index1_frame, 101 + 5);
    EXPECT_EQ(r.sheet.records[51].index1_frame, 50 * 100 + 50 * 51 / 2 + 5);
    EXPECT_EQ(r.sheet.records[99].index1_frame, total - 199 + 5);
    EXPECT_EQ(r.sheet.records[99].bin_sectors, total);
}

TEST(CueReaderFiles, FileLineAfterTheLastTrackAndAFileThatCannotBeOpened)
{
    const bin_sizes sizes{{"a.bin", sectors(10)}, {"b.bin", sectors(5)}};
    const read_outcome after = read_sheet("FILE \"a.bin\" BINARY\nTRACK 1 AUDIO\nINDEX 01 00:00:00\n"
                                          "FILE \"b.bin\" BINARY\n",
                                          sizes);
    ASSERT_TRUE(after.ok);
    EXPECT_EQ(spans(after.sheet), (std::vector<span_triple>{{0, 15, 1}}));

    const read_outcome third = read_sheet("FILE \"a.bin\" BINARY\nTRACK 1 AUDIO\nINDEX 01 00:00:00\n"
                                          "FILE \"b.bin\" BINARY\nTRACK 2 AUDIO\nINDEX 01 00:00:00\n"
                                          "FILE \"c.bin\" BINARY\nTRACK 3 AUDIO\nINDEX 01 00:00:00\n",
                                          sizes);
    EXPECT_EQ(third.console, "Error!! line 7 CMD: FILE Open fail\n");
    EXPECT_EQ(third.probed, (std::vector<std::string>{"a.bin", "b.bin", "c.bin"}));
}

// The name goes to the lookup as the line writes it, quoted or not: an
// unquoted name is the words between FILE and the type.
TEST_F(CueReader, FileNamesQuotedOrNot)
{
    const struct {
        const char* line;
        const char* probed;
    } rows[] = {
        {"FILE \"D:\\rips\\game.bin\" BINARY", "D:\\rips\\game.bin"},
        {"FILE core-1stage.iso BINARY", "core-1stage.iso"},
        {"FILE  My Game  (Track 1).bin \t BINARY ", "My Game  (Track 1).bin"},
        {"FILE BINARY BINARY", "BINARY"},
        {"FILE \"a b\"BINARY", "a b"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(read(std::string(row.line) + "\n").probed, std::vector<std::string>{row.probed}) << row.line;
    EXPECT_EQ(read("FILE t2.bin AUDIO\n").console, "Error!! line 1 CMD: FILE is not BINARY form\n");
}

TEST_F(CueReader, TrackModes)
{
    const read_outcome r = read("FILE \"game.bin\" BINARY\nTRACK 1 MODE2/2336\nTRACK 2 MODE1/2352\nTRACK 3AUDIO\n");
    ASSERT_TRUE(r.ok) << r.console;
    EXPECT_EQ(r.sheet.records[1].is_mode2, 1);
    EXPECT_EQ(r.sheet.records[1].is_audio, 0);
    EXPECT_EQ(r.sheet.records[2].is_mode2, 0);
    EXPECT_EQ(r.sheet.records[3].is_audio, 1);
    for (const char* bad : {"TRACK 01 MODE1/2336\n", "TRACK AUDIO\n", "TRACK 00 AUDIO\n", "TRACK 01\tCDG\n"})
        EXPECT_EQ(read(bad).console, "Error!! line 1 Invalid Track\n") << bad;
}

TEST_F(CueReader, TrackNumbersBeyondTheTableNeverWrapIntoRange)
{
    EXPECT_TRUE(read("TRACK 256 AUDIO\n").ok);
    EXPECT_EQ(read("TRACK 257 AUDIO\n").console, "Error!! line 1 Invalid Track\n");
    EXPECT_EQ(read("TRACK 4294967297 AUDIO\n").console, "Error!! line 1 Invalid Track\n");
    EXPECT_EQ(read("TRACK 00000000000000000000000000001 AUDIO\n").sheet.track_count, 1);
}

TEST_F(CueReader, MalformedTimes)
{
    EXPECT_EQ(read("TRACK 1 AUDIO\nINDEX 01 04:58\n").console, "Error!! line 2 Invalid Track Index\n");
    EXPECT_EQ(read("TRACK 1 AUDIO\nINDEX 00 xx:00:00\n").console, "Error!! line 2 Invalid Track Index\n");
    EXPECT_EQ(read("TRACK 1 AUDIO\nINDEX 01 04 :58:00\n").console, "Error!! line 2 Invalid Track Index\n");
    EXPECT_EQ(read("TRACK 1 AUDIO\nPREGAP 150\n").console, "Error!! line 2 Invalid Track Pregap\n");
    EXPECT_TRUE(read("TRACK 1 AUDIO\nINDEX 01 1: 2: 3 trailing\n").ok);
}

TEST_F(CueReader, TimesAreNotRangeCheckedAndWrapIn32Bits)
{
    read_outcome r = read("TRACK 1 AUDIO\nINDEX 01 00:61:80\n");
    EXPECT_EQ(r.sheet.records[1].index1_frame, 61 * 75 + 80);
    r = read("TRACK 1 AUDIO\nINDEX 01 4294967295:4294967295:4294967295\n");
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.sheet.records[1].index1_frame, static_cast<std::int32_t>(0u - 4500u - 75u - 1u));
}

TEST_F(CueReader, TracksOutOfSequenceAreNoticed)
{
    const read_outcome r = read("TRACK 1 AUDIO\nINDEX 01 00:00:00\nTRACK 3 AUDIO\nINDEX 01 00:01:00\n"
                                "TRACK 2 AUDIO\nINDEX 01 00:02:00\nTRACK 00 AUDIO\n");
    EXPECT_EQ(r.sheet.track_count, 2);   // the last TRACK line's number
    // The notices hold even though the sheet then stops on a malformed line.
    EXPECT_EQ(r.console, "Error!! line 7 Invalid Track\n");
    EXPECT_EQ(r.sheet.notices, (std::vector<std::string>{
                                   "line 3: TRACK 3 follows track 1; the track files will not match the sheet",
                                   "line 5: TRACK 2 follows track 3; the track files will not match the sheet"}));
    EXPECT_TRUE(read("TRACK 1 AUDIO\nINDEX 01 00:00:00\nTRACK 2 AUDIO\nINDEX 01 00:00:00\n").sheet.notices.empty());
}

TEST_F(CueReader, OtherCommandsAndBareWordsAreSkipped)
{
    const read_outcome r = read("REM GENRE Rock\nCATALOG 123\nTRACK\nFILE\nTRACKS 1 AUDIO\n"
                                "TRACK 1 AUDIO\nFLAGS DCP\nISRC X\nPOSTGAP 00:02:00\n");
    ASSERT_TRUE(r.ok) << r.console;
    EXPECT_EQ(r.sheet.track_count, 1);
    EXPECT_FALSE(r.bin_open());
    EXPECT_EQ(r.sheet.records[1].bin_sectors, 0);   // no BIN: size 0
}

TEST_F(CueReader, ValuesBeforeTheFirstTrackAreDroppedAndTheLastTrackGetsTheBinSize)
{
    const read_outcome r = read("INDEX 01 01:00:00\nPREGAP 00:02:00\nTRACK 1 AUDIO\nINDEX 01 00:00:05\n"
                                "TRACK 2 AUDIO\nFILE \"game.bin\" BINARY\nINDEX 01 00:01:00\n");
    ASSERT_TRUE(r.ok) << r.console;
    EXPECT_EQ(r.sheet.records[1].index1_frame, 5);
    EXPECT_EQ(r.sheet.records[1].pregap_frames, 0);
    EXPECT_EQ(r.sheet.records[1].bin_sectors, 0);    // stored before the FILE line
    EXPECT_EQ(r.sheet.records[2].bin_sectors, 425);
}

TEST_F(CueReader, ByteOrderMarkIsSkipped)
{
    const read_outcome r = read("\xEF\xBB\xBF" "FILE \"game.bin\" BINARY\nTRACK 1 AUDIO\n");
    ASSERT_TRUE(r.ok) << r.console;
    EXPECT_TRUE(r.bin_open());
}

TEST_F(CueReader, NoTrackLineGivesCountZero)
{
    EXPECT_EQ(read("FILE \"game.bin\" BINARY\n").sheet.track_count, 0);
    EXPECT_EQ(read("").sheet.track_count, 0);
}

TEST_F(CueReader, HostileBytesStayWithinTheBuffers)
{
    // A 40 KB line arrives in pieces of 16383 bytes, each a line of its own.
    std::string sheet = "REM " + std::string(40'000, 'x') + "\nTRACK 00 AUDIO\n";
    EXPECT_EQ(read(sheet).console, "Error!! line 4 Invalid Track\n");
    // A command word of more than 255 bytes cannot be a command.
    EXPECT_TRUE(read(std::string(300, 'T') + " 1 AUDIO\n").ok);
    // NUL bytes end the line's text.
    EXPECT_TRUE(read(std::string("TRACK 1 AUDIO\0garbage\n", 22)).ok);
    std::string name(2000, 'n');
    EXPECT_EQ(read("FILE \"" + name + "\" BINARY\n").console, "Error!! line 1 CMD: FILE\n");
}

// CD-TEXT: the value unquoted or to the line's end, the line from its
// command word, each in its place; the last of a field in one place wins. A
// control byte is dropped without cutting the value, and a quote left open
// is closed in the line.
TEST_F(CueReader, CdTextIsKeptInItsPlace)
{
    const read_outcome r = read("REM GENRE Rock  \nrem date \"1999\"\nREM COMMENT \"x\"\nTITLE \"Album\" \n"
                                "FILE \"game.bin\" BINARY\n  TRACK 01 AUDIO\n    TITLE \"One\ttwo\n"
                                "    INDEX 01 00:00:00\n    isrc  AB\x01" "C\n  TRACK 02 AUDIO\n    TITLE First\n"
                                "    PERFORMER \"\"\n    TITLE \"Second\"\n    INDEX 01 00:01:00\n");
    ASSERT_TRUE(r.ok) << r.console;
    std::vector<std::string> texts;
    for (const sheet_text& t : r.sheet.texts)
        texts.push_back(std::to_string(t.track) + " " + std::to_string(static_cast<int>(t.field)) + " [" + t.value +
                        "] [" + t.line + "]");
    EXPECT_EQ(texts, (std::vector<std::string>{"0 5 [Rock] [REM GENRE Rock  ]", "0 6 [1999] [rem date \"1999\"]",
                                               "0 1 [Album] [TITLE \"Album\" ]", "1 1 [One\ttwo] [TITLE \"One\ttwo\"]",
                                               "1 4 [ABC] [isrc  ABC]", "2 1 [Second] [TITLE \"Second\"]"}));
    EXPECT_EQ(*find_text(r.sheet, 2, text_field::title), "Second");
    EXPECT_EQ(find_text(r.sheet, 2, text_field::performer), nullptr);
}

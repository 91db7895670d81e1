#include "cue/cue_reader.h"
#include "cue/layout.h"
#include "extract/toc_file.h"

#include "support.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

namespace {

using triple = std::tuple<int, int, int>;   // start_sector, length_sectors, is_audio

struct laid_out {
    std::string toc;
    std::vector<triple> tracks;
};

// Reads the sheet (from memory, beside a BIN of the given size; -1: none),
// lays it out and writes the TOC.
laid_out lay_out(const std::string& sheet, std::int64_t bin_bytes = -1)
{
    file_stream cue_file(fmemopen(const_cast<char*>(sheet.data()), sheet.size(), "rb"));
    const cue_read read = read_cue_sheet(cue_file.get(), [bin_bytes](const char*) { return bin_bytes; });
    EXPECT_TRUE(read.ok) << read.error.message;
    const disc_layout layout = lay_out_tracks(read.sheet);

    laid_out result{};
    captured_console toc;
    write_toc(toc.c.out, layout);
    result.toc = toc.out();
    for (int n = 1; n <= layout.track_count; ++n) {
        const track_span& t = layout.tracks[n];
        result.tracks.emplace_back(t.start_sector, t.length_sectors, t.is_audio);
    }
    return result;
}

constexpr std::int64_t sectors(std::int64_t count) { return count * 2352; }

// One sheet each: its layout and its TOC. An empty toc or tracks is not
// checked; the number of tracks always is.
struct layout_row {
    std::string name;
    std::string sheet;
    std::int64_t bin_bytes;   // -1: no BIN
    std::string toc;
    std::size_t track_count;
    std::vector<triple> tracks;
};

void PrintTo(const layout_row& row, std::ostream* out) { *out << row.name; }

const layout_row layout_rows[] = {
    {"DataTrackThenAudioWithPregap",
     "FILE \"disc.bin\" BINARY\n"
     "  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n"
     "  TRACK 02 AUDIO\n    PREGAP 00:02:00\n    INDEX 01 20:00:00\n"
     "  TRACK 03 AUDIO\n    INDEX 01 23:30:00\n",
     sectors(123600),
     crlf_lines({"Leadin", "track1.iso 20:00:00", "Pregap: 00:02:00", "track2.ogg 03:28:00", "track3.ogg 04:00:00",
                "Leadout"}),
     3, {{0, 90000, 0}, {90000, 15600, 1}, {105600, 18000, 1}}},
    {"AudioTracksWithIndexZeroAreContiguous",
     "FILE \"disc.bin\" BINARY\n"
     "  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
     "  TRACK 02 AUDIO\n    INDEX 00 03:58:10\n    INDEX 01 04:00:10\n"
     "  TRACK 03 AUDIO\n    INDEX 00 07:10:00\n    INDEX 01 07:12:00\n",
     sectors(45000),
     crlf_lines({"Leadin", "track1.ogg 04:00:10", "track2.ogg 03:11:65", "track3.ogg 02:48:00", "Leadout"}),
     3, {{0, 18010, 1}, {18010, 14390, 1}, {32400, 12600, 1}}},
    {"SingleTrackRunsToTheLastWholeSector",
     "FILE \"disc.bin\" BINARY\nTRACK 01 MODE2/2352\nINDEX 01 00:00:00\n",
     sectors(1000) + 1000,
     crlf_lines({"Leadin", "track1.iso 00:13:25", "Leadout"}),
     1, {{0, 1000, 0}}},
    {"NoBinGivesTheLastTrackThirtyTwoSectors",
     "TRACK 01 MODE1/2352\nINDEX 01 00:00:00\nTRACK 02 AUDIO\nINDEX 01 01:00:00\n",
     -1,
     crlf_lines({"Leadin", "track1.iso 01:00:00", "track2.ogg 00:00:32", "Leadout"}),
     2, {{0, 4500, 0}, {4500, 32, 1}}},
    {"FirstTrackStartsAtZeroWhateverItsIndex",
     "FILE \"disc.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:02:00\n"
     "TRACK 02 AUDIO\nINDEX 01 03:00:00\n",
     sectors(20000),
     crlf_lines({"Leadin", "track1.ogg 02:58:00", "track2.ogg 01:28:50", "Leadout"}),
     2, {{0, 13350, 1}, {13500, 6650, 1}}},
    {"DataTrackPregapIsNotSubtractedButShiftsLaterTracks",
     "FILE \"disc.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n"
     "TRACK 02 MODE1/2352\nPREGAP 00:02:00\nINDEX 01 10:00:00\n"
     "TRACK 03 AUDIO\nINDEX 01 20:00:00\n",
     sectors(100000),
     crlf_lines({"Leadin", "track1.ogg 10:00:00", "Pregap: 00:02:00", "track2.iso 10:00:00", "track3.ogg 02:13:25",
                "Leadout"}),
     3, {{0, 45000, 1}, {45000, 45000, 0}, {89850, 10000, 1}}},
    // Track 3 has a PREGAP line, then an INDEX 00: the later line makes it an
    // INDEX 00 track. It is still shifted by track 2's PREGAP; track 4 is not.
    {"IndexZeroRestartsThePregapSumAfterItsOwnTrack",
     "FILE \"disc.bin\" BINARY\nTRACK 1 AUDIO\nINDEX 01 00:00:00\n"
     "TRACK 2 AUDIO\nPREGAP 00:02:00\nINDEX 01 00:10:00\n"
     "TRACK 3 AUDIO\nPREGAP 00:01:00\nINDEX 00 00:19:00\nINDEX 01 00:20:00\n"
     "TRACK 4 AUDIO\nINDEX 01 00:30:00\nTRACK 5 AUDIO\nINDEX 01 00:40:00\n",
     sectors(10000),
     "",
     5, {{0, 750, 1}, {750, 600, 1}, {1350, 750, 1}, {2250, 750, 1}, {3000, 7000, 1}}},
    // Here the PREGAP comes after the INDEX 00: the gap is a PREGAP.
    {"TheLaterOfIndexZeroAndPregapDecidesTheGap",
     "FILE \"disc.bin\" BINARY\nTRACK 1 AUDIO\nINDEX 01 00:00:00\n"
     "TRACK 2 AUDIO\nINDEX 00 00:08:00\nPREGAP 00:02:00\nINDEX 01 00:10:00\n"
     "TRACK 3 AUDIO\nINDEX 01 00:20:00\n",
     sectors(3000),
     crlf_lines({"Leadin", "track1.ogg 00:10:00", "Pregap: 00:02:00", "track2.ogg 00:08:00", "track3.ogg 00:22:00",
                "Leadout"}),
     3, {{0, 750, 1}, {750, 600, 1}, {1350, 1650, 1}}},
    {"NoTracksGivesOnlyLeadinAndLeadout", "FILE \"disc.bin\" BINARY\n", 0, crlf_lines({"Leadin", "Leadout"}), 0, {}},
    {"TracksRunningBackwardsKeepTheirNegativeLength",
     "FILE \"disc.bin\" BINARY\nTRACK 1 AUDIO\nINDEX 01 00:00:00\n"
     "TRACK 2 AUDIO\nINDEX 01 00:02:00\nTRACK 3 AUDIO\nINDEX 01 00:00:50\n",
     sectors(1000),
     crlf_lines({"Leadin", "track1.ogg 00:02:00", "track2.ogg 71582788:15:4294967271", "track3.ogg 00:12:50",
                "Leadout"}),
     3, {{0, 150, 1}, {150, -100, 1}, {50, 950, 1}}},
    // Sums past 2^31 wrap as 32-bit two's complement (the sanitizer build
    // would flag signed overflow).
    {"ExtremePositionsWrapWithoutOverflow",
     "FILE \"disc.bin\" BINARY\n"
     "TRACK 1 AUDIO\nPREGAP 4294967295:0:0\nINDEX 01 0:0:0\n"
     "TRACK 2 AUDIO\nPREGAP 400000:0:0\nINDEX 01 400000:0:0\n"
     "TRACK 3 AUDIO\nINDEX 01 477000:0:0\n",
     sectors(10),
     "",
     3, {}},
};

class Layout : public testing::TestWithParam<layout_row> {};

} // namespace

TEST_P(Layout, TracksAndToc)
{
    const layout_row& row = GetParam();
    const laid_out r = lay_out(row.sheet, row.bin_bytes);
    EXPECT_EQ(r.tracks.size(), row.track_count);
    if (!row.toc.empty()) {
        EXPECT_EQ(r.toc, row.toc);
    }
    if (!row.tracks.empty()) {
        EXPECT_EQ(r.tracks, row.tracks);
    }
}

INSTANTIATE_TEST_SUITE_P(Sheets, Layout, testing::ValuesIn(layout_rows),
                         [](const testing::TestParamInfo<layout_row>& row) { return row.param.name; });

TEST(MsfForm, SplitsFramesIntoMinutesSecondsAndFrames)
{
    auto text = [](std::int32_t frames) {
        const msf_time t = to_msf(frames);
        return std::to_string(t.minutes) + ":" + std::to_string(t.seconds) + ":" + std::to_string(t.frames);
    };
    EXPECT_EQ(text(10), "0:0:10");
    EXPECT_EQ(text(4500), "1:0:0");
    EXPECT_EQ(text(449999), "99:59:74");
    EXPECT_EQ(text(450000), "100:0:0");
    EXPECT_EQ(text(-100), "71582788:15:4294967271");
}

#include "cue/cue_reader.h"
#include "cue/layout.h"
#include "extract/audio_codecs.h"
#include "output/toc_file.h"

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
    const cue_read read = read_cue_sheet(cue_file.get(), [bin_bytes](const char*, bool) { return bin_bytes; });
    EXPECT_TRUE(read.ok) << read.error.message;
    const disc_layout layout = lay_out_tracks(read.sheet);

    laid_out result{};
    captured_console toc;
    write_toc(toc.c.out, layout, default_track_format());
    result.toc = toc.out();
    for (int n = 1; n <= layout.track_count; ++n) {
        const track_span& t = layout.tracks[n];
        result.tracks.emplace_back(t.start_sector, t.length_sectors, t.is_audio);
    }
    return result;
}

constexpr std::int64_t sectors(std::int64_t count) { return count * 2352; }

} // namespace

// One sheet a row: the TOC it gives and where each track lies (start,
// length, is_audio). Every track starts at its INDEX 01 and ends where the
// next one starts; a PREGAP is only a TOC line.
struct layout_row {
    const char* name;
    std::string sheet;
    std::int64_t bin_bytes;   // of each FILE; -1: none
    std::vector<std::string> toc;
    std::vector<triple> tracks;
};

void PrintTo(const layout_row& row, std::ostream* os) { *os << row.name; }

class Layout : public testing::TestWithParam<layout_row> {};

TEST_P(Layout, PlacesEveryTrackAtItsIndexOne)
{
    const layout_row& row = GetParam();
    const laid_out r = lay_out(row.sheet, row.bin_bytes);
    EXPECT_EQ(r.toc, crlf_lines(row.toc));
    EXPECT_EQ(r.tracks, row.tracks);
}

const std::string one_bin = "FILE \"disc.bin\" BINARY\n";

INSTANTIATE_TEST_SUITE_P(
    Sheets, Layout,
    testing::Values(
        // Track 2's PREGAP neither shortens it nor moves track 3.
        layout_row{"PregapOnAnAudioTrack",
                   one_bin + "TRACK 01 MODE1/2352\nINDEX 01 00:00:00\nTRACK 02 AUDIO\nPREGAP 00:02:00\n"
                             "INDEX 01 20:00:00\nTRACK 03 AUDIO\nINDEX 01 23:30:00\n",
                   sectors(123600),
                   {"Leadin", "track1.iso 20:00:00", "Pregap: 00:02:00", "track2.ogg 03:30:00",
                    "track3.ogg 03:58:00", "Leadout"},
                   {{0, 90000, 0}, {90000, 15750, 1}, {105750, 17850, 1}}},
        layout_row{"PregapOnADataTrack",
                   one_bin + "TRACK 01 AUDIO\nINDEX 01 00:00:00\nTRACK 02 MODE1/2352\nPREGAP 00:02:00\n"
                             "INDEX 01 10:00:00\nTRACK 03 AUDIO\nINDEX 01 20:00:00\n",
                   sectors(100000),
                   {"Leadin", "track1.ogg 10:00:00", "Pregap: 00:02:00", "track2.iso 10:00:00",
                    "track3.ogg 02:13:25", "Leadout"},
                   {{0, 45000, 1}, {45000, 45000, 0}, {90000, 10000, 1}}},
        // An INDEX 00 gap is the end of the track before.
        layout_row{"IndexZeroGaps",
                   one_bin + "TRACK 01 AUDIO\nINDEX 01 00:00:00\nTRACK 02 AUDIO\nINDEX 00 03:58:10\n"
                             "INDEX 01 04:00:10\nTRACK 03 AUDIO\nINDEX 00 07:10:00\nINDEX 01 07:12:00\n",
                   sectors(45000),
                   {"Leadin", "track1.ogg 04:00:10", "track2.ogg 03:11:65", "track3.ogg 02:48:00", "Leadout"},
                   {{0, 18010, 1}, {18010, 14390, 1}, {32400, 12600, 1}}},
        // An INDEX 00 and a PREGAP line are two gaps, in either order.
        layout_row{"IndexZeroAndPregapInEitherOrder",
                   one_bin + "TRACK 1 AUDIO\nINDEX 01 00:00:00\nTRACK 2 AUDIO\nINDEX 00 00:08:00\n"
                             "PREGAP 00:02:00\nINDEX 01 00:10:00\nTRACK 3 AUDIO\nPREGAP 00:01:00\n"
                             "INDEX 00 00:19:00\nINDEX 01 00:20:00\n",
                   sectors(3000),
                   {"Leadin", "track1.ogg 00:10:00", "Pregap: 00:02:00", "track2.ogg 00:10:00",
                    "Pregap: 00:01:00", "track3.ogg 00:20:00", "Leadout"},
                   {{0, 750, 1}, {750, 750, 1}, {1500, 1500, 1}}},
        // The sectors before track 1's INDEX 01 are in no track.
        layout_row{"FirstTrackAtItsIndexOne",
                   one_bin + "TRACK 01 AUDIO\nINDEX 01 00:02:00\nTRACK 02 AUDIO\nINDEX 01 03:00:00\n",
                   sectors(20000), {"Leadin", "track1.ogg 02:58:00", "track2.ogg 01:26:50", "Leadout"},
                   {{150, 13350, 1}, {13500, 6500, 1}}},
        // INDEX 02 and up mark places inside a track, not its start.
        layout_row{"IndexTwoIsNoStart",
                   one_bin + "TRACK 01 AUDIO\nINDEX 01 00:00:00\nINDEX 02 00:05:00\nTRACK 02 AUDIO\n"
                             "INDEX 01 00:10:00\nINDEX 02 00:12:00\n",
                   sectors(1500), {"Leadin", "track1.ogg 00:10:00", "track2.ogg 00:10:00", "Leadout"},
                   {{0, 750, 1}, {750, 750, 1}}},
        // A track without an INDEX 01 starts its own file.
        layout_row{"NoIndexInTheSecondFile",
                   one_bin + "TRACK 01 AUDIO\nINDEX 01 00:00:00\nFILE \"two.bin\" BINARY\nTRACK 02 AUDIO\n",
                   sectors(100), {"Leadin", "track1.ogg 00:01:25", "track2.ogg 00:01:25", "Leadout"},
                   {{0, 100, 1}, {100, 100, 1}}},
        layout_row{"SingleTrackRunsToTheLastWholeSector", one_bin + "TRACK 01 MODE2/2352\nINDEX 01 00:00:00\n",
                   sectors(1000) + 1000, {"Leadin", "track1.iso 00:13:25", "Leadout"}, {{0, 1000, 0}}},
        layout_row{"NoBinGivesTheLastTrackThirtyTwoSectors",
                   "TRACK 01 MODE1/2352\nINDEX 01 00:00:00\nTRACK 02 AUDIO\nINDEX 01 01:00:00\n", -1,
                   {"Leadin", "track1.iso 01:00:00", "track2.ogg 00:00:32", "Leadout"},
                   {{0, 4500, 0}, {4500, 32, 1}}},
        layout_row{"TracksRunningBackwardsKeepTheirNegativeLength",
                   one_bin + "TRACK 1 AUDIO\nINDEX 01 00:00:00\nTRACK 2 AUDIO\nINDEX 01 00:02:00\n"
                             "TRACK 3 AUDIO\nINDEX 01 00:00:50\n",
                   sectors(1000),
                   {"Leadin", "track1.ogg 00:02:00", "track2.ogg 71582788:15:4294967271", "track3.ogg 00:12:50",
                    "Leadout"},
                   {{0, 150, 1}, {150, -100, 1}, {50, 950, 1}}},
        layout_row{"NoTracksGivesOnlyLeadinAndLeadout", one_bin, 0, {"Leadin", "Leadout"}, {}}),
    [](const testing::TestParamInfo<layout_row>& row) { return std::string(row.param.name); });

TEST(Layout, ExtremePositionsWrapWithoutOverflow)
{
    // Sums past 2^31 wrap as 32-bit two's complement (the sanitizer build
    // would flag signed overflow).
    const laid_out r = lay_out("FILE \"disc.bin\" BINARY\n"
                               "TRACK 1 AUDIO\nPREGAP 4294967295:0:0\nINDEX 01 0:0:0\n"
                               "TRACK 2 AUDIO\nPREGAP 400000:0:0\nINDEX 01 400000:0:0\n"
                               "TRACK 3 AUDIO\nINDEX 01 477000:0:0\n",
                               sectors(10));
    EXPECT_EQ(r.tracks.size(), 3u);
}

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

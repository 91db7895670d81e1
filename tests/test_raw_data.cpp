// --raw-data keeps the source's sectors, and mednafen reads the source's TOC
// off its sheet; without it, a track whose .iso cut XA Form 2 sectors is told.
#include "support.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct disc {
    fs::path cue;
    std::string bytes;   // its BIN files, joined
    std::string out;     // its output folder's name
};

disc copy_sample(const fs::path& dir, bool mode2, bool redump)
{
    fs::create_directories(dir);
    for (const auto& entry : fs::directory_iterator(sample_disc_dir(mode2, redump)))
        if (entry.is_regular_file())
            fs::copy_file(entry.path(), dir / entry.path().filename());
    const std::string name = std::string(redump ? "sample_redump" : "sample") + (mode2 ? "_mode2" : "");
    const std::string out = std::string(redump ? "sampleredump" : "sample") + (mode2 ? "mode2" : "");
    return {dir / (name + ".cue"), read_file(dir / (name + (redump ? "-merged.bin" : ".bin"))), out};
}

// 600 XA sectors, Form 2 every seventh, then a file whose two-second gap
// of silence ends the data track: 750 sectors over two FILE lines.
disc xa_disc(const fs::path& dir, const std::string& mode = "MODE2/2352")
{
    fs::create_directories(dir);
    std::string xa = patterned_sectors(0, 600);
    for (std::size_t s = 0; s < 600; ++s) {
        xa[s * 2352 + 15] = 2;
        xa[s * 2352 + 18] = xa[s * 2352 + 22] = static_cast<char>(s % 7 == 0 ? 0x24 : 0x08);
    }
    const std::string audio = std::string(150 * 2352, '\0') + patterned_sectors(0, 75);
    write_file(dir / "xa 1.bin", xa);
    write_file(dir / "xa 2.bin", audio);
    write_file(dir / "xa.cue", "FILE \"xa 1.bin\" BINARY\n  TRACK 01 " + mode + "\n    INDEX 01 00:00:00\n"
                               "FILE \"xa 2.bin\" BINARY\n  TRACK 02 AUDIO\n"
                               "    INDEX 00 00:00:00\n    INDEX 01 00:02:00\n");
    return {dir / "xa.cue", xa + audio, "xa"};
}

command_result run_raw(const disc& d) { return run_tool({"--raw-data", d.cue}); }

struct raw_row {
    const char* name;
    disc (*make)(const fs::path& dir);
    std::size_t sectors;   // of the data track
    const char* mode;      // its TRACK line in the emulator sheet
};
void PrintTo(const raw_row& row, std::ostream* os) { *os << row.name; }

class RawData : public testing::TestWithParam<raw_row> {};

} // namespace

TEST_P(RawData, TrackFileIsTheSourcesSectorsAndMednafenReadsTheSourcesToc)
{
    const disc d = GetParam().make(scratch_dir());
    const command_result run = run_raw(d);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.exit_status, 0);
    const fs::path out = d.cue.parent_path() / d.out;
    EXPECT_TRUE(read_file(out / "track1.bin") == d.bytes.substr(0, GetParam().sectors * 2352));
    EXPECT_NE(read_file(out / (d.out + ".cue")).find("FILE \"track1.bin\" BINARY\r\n  TRACK 01 " +
                                                     std::string(GetParam().mode) + "\r\n"),
              std::string::npos);
    EXPECT_EQ(mednafen_lbas(out / (d.out + ".cue")), mednafen_lbas(d.cue));
}

INSTANTIATE_TEST_SUITE_P(
    Discs, RawData,
    testing::Values(raw_row{"Sample", [](const fs::path& dir) { return copy_sample(dir, false, false); }, 235,
                            "MODE1/2352"},
                    raw_row{"SampleOneFilePerTrack", [](const fs::path& dir) { return copy_sample(dir, false, true); },
                            385, "MODE1/2352"},
                    raw_row{"XaForms", [](const fs::path& dir) { return xa_disc(dir); }, 750, "MODE2/2352"}),
    [](const testing::TestParamInfo<raw_row>& row) { return std::string(row.param.name); });

// After a raw run that wrote a sheet, the default run: one line for the
// track that lost Form 2 data, and no sheet; nothing new for the others.
TEST(XaForm2, ReportedOnlyWhereAnIsoCutsIt)
{
    const fs::path dir = scratch_dir();
    const std::pair<disc, std::string> rows[] = {
        {xa_disc(dir / "form2"), "trackcarve: track1.iso: 86 of its 750 sectors are XA Form 2 (audio or video), cut "
                                 "to 2048 of their 2324 bytes; --raw-data keeps them\n"},
        {copy_sample(dir / "form1", true, false), ""},   // MODE2, Form 1 only
        {xa_disc(dir / "mode1", "MODE1/2352"), ""},      // the same sectors in a MODE1 track
    };
    for (const auto& [d, err] : rows) {
        ASSERT_EQ(run_raw(d).exit_status, 0);
        const command_result run = run_tool({d.cue});
        EXPECT_EQ(run.err, err);
        EXPECT_EQ(run.exit_status, err.empty() ? 0 : 1);
        EXPECT_EQ(fs::exists(d.cue.parent_path() / d.out / (d.out + ".cue")), err.empty()) << d.cue;
    }
}

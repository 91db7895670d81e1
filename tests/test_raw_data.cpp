// --raw-data keeps the source's sectors, and mednafen reads the source's TOC
// off its sheet; without it, a track whose .iso cut XA Form 2 sectors is told.
#include "support.h"

#include <gtest/gtest.h>

#include <string>

namespace {

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

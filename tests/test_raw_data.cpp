// --raw-data, and the XA Form 2 sectors an .iso cuts: trackN.bin holds the
// source's sectors byte for byte, across FILE lines too, and mednafen reads
// the same table of contents off its sheet as off the source's; without the
// option a track with Form 2 sectors is told once and gets no sheet.
#include "support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// MODE2 sectors of patterned bytes with an XA subheader, Form 2 (audio) on
// every seventh, Form 1 (data) on the others.
std::string xa_sectors(int count)
{
    std::string bytes = patterned_sectors(0, count);
    for (int s = 0; s < count; ++s) {
        char* sector = bytes.data() + static_cast<std::size_t>(s) * 2352;
        sector[15] = 2;
        sector[18] = sector[22] = static_cast<char>(s % 7 == 0 ? 0x24 : 0x08);
    }
    return bytes;
}

// A disc in the scratch folder: its sheet, its BIN files joined, and the
// name of its output folder.
struct disc {
    fs::path cue;
    std::string joined;
    std::string out_name;
};

disc copy_sample(const fs::path& dir, bool mode2, bool redump)
{
    fs::create_directories(dir);
    const fs::path source = sample_disc_dir(mode2, redump);
    for (const auto& entry : fs::directory_iterator(source))
        if (entry.is_regular_file())
            fs::copy_file(entry.path(), dir / entry.path().filename());
    const std::string name = std::string(redump ? "sample_redump" : "sample") + (mode2 ? "_mode2" : "");
    const std::string out = std::string(redump ? "sampleredump" : "sample") + (mode2 ? "mode2" : "");
    return {dir / (name + ".cue"), read_file(dir / (name + (redump ? "-merged.bin" : ".bin"))), out};
}

// 600 XA sectors (three reads of the .iso's copy), then a file whose
// two-second gap of silence ends the data track, as one file per track has it.
disc xa_disc(const fs::path& dir, const char* mode = "MODE2/2352")
{
    fs::create_directories(dir);
    const std::string audio = std::string(150 * 2352, '\0') + patterned_sectors(0, 75);
    write_file(dir / "xa (Track 1).bin", xa_sectors(600));
    write_file(dir / "xa (Track 2).bin", audio);
    write_file(dir / "xa.cue", std::string("FILE \"xa (Track 1).bin\" BINARY\n  TRACK 01 ") + mode +
                                   "\n    INDEX 01 00:00:00\nFILE \"xa (Track 2).bin\" BINARY\n  TRACK 02 AUDIO\n"
                                   "    INDEX 00 00:00:00\n    INDEX 01 00:02:00\n");
    return {dir / "xa.cue", xa_sectors(600) + audio, "xa"};
}

command_result run_with(const std::vector<std::string>& options, const fs::path& cue)
{
    std::vector<std::string> args{TRACKCARVE_EXE};
    args.insert(args.end(), options.begin(), options.end());
    args.push_back(cue.string());
    return run_command(args);
}

struct raw_row {
    const char* name;
    disc (*make)(const fs::path& dir);
    const char* mode;   // the data track's line in the emulator sheet
};

void PrintTo(const raw_row& row, std::ostream* os) { *os << row.name; }

class RawData : public testing::TestWithParam<raw_row> {};

} // namespace

TEST_P(RawData, TrackFileIsTheSourcesSectorsAndMednafenReadsTheSourcesToc)
{
    const disc d = GetParam().make(scratch_dir());
    const command_result run = run_with({"--raw-data"}, d.cue);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.exit_status, 0);
    const fs::path out = d.cue.parent_path() / d.out_name;
    const std::string toc = read_file(out / (d.out_name + ".toc"));
    ASSERT_TRUE(toc.starts_with("Leadin\r\ntrack1.bin ")) << toc;
    const int length = std::stoi(toc.substr(19, 2)) * 4500 + std::stoi(toc.substr(22, 2)) * 75 +
                       std::stoi(toc.substr(25, 2));
    EXPECT_TRUE(read_file(out / "track1.bin") == d.joined.substr(0, static_cast<std::size_t>(length) * 2352));
    EXPECT_NE(read_file(out / (d.out_name + ".cue")).find(std::string("FILE \"track1.bin\" BINARY\r\n  TRACK 01 ") +
                                                          GetParam().mode + "\r\n"),
              std::string::npos);
    EXPECT_EQ(mednafen_lbas(out / (d.out_name + ".cue")), mednafen_lbas(d.cue));
}

INSTANTIATE_TEST_SUITE_P(
    Discs, RawData,
    testing::Values(raw_row{"Sample", [](const fs::path& dir) { return copy_sample(dir, false, false); }, "MODE1/2352"},
                    raw_row{"SampleOneFilePerTrack", [](const fs::path& dir) { return copy_sample(dir, false, true); },
                            "MODE1/2352"},
                    raw_row{"XaFormsOneFilePerTrack", [](const fs::path& dir) { return xa_disc(dir); }, "MODE2/2352"}),
    [](const testing::TestParamInfo<raw_row>& row) { return std::string(row.param.name); });

// Without --raw-data: one line for a track that lost Form 2 data, and the
// sheet of the raw run before it removed; nothing new for the others.
TEST(XaForm2, ReportedOnlyWhereAnIsoCutsIt)
{
    const fs::path dir = scratch_dir();
    const struct {
        disc d;
        std::string err;
    } rows[] = {
        {xa_disc(dir / "form2"), "trackcarve: track1.iso: 86 of its 750 sectors are XA Form 2 (audio or video), cut to 2048 of "
                    "their 2324 bytes; --raw-data keeps them\n"},
        {copy_sample(dir / "form1", true, false), ""},   // MODE2, Form 1 only
        {xa_disc(dir / "mode1", "MODE1/2352"), ""},      // the same sectors in a MODE1 track are MODE1
    };
    for (const auto& row : rows) {
        ASSERT_EQ(run_with({"--raw-data"}, row.d.cue).exit_status, 0);
        const command_result run = run_with({}, row.d.cue);
        EXPECT_EQ(run.err, row.err);
        EXPECT_EQ(run.exit_status, row.err.empty() ? 0 : 1);
        const fs::path sheet = row.d.cue.parent_path() / row.d.out_name / (row.d.out_name + ".cue");
        EXPECT_EQ(fs::exists(sheet), row.err.empty()) << sheet;
    }
}

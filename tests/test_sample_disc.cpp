// The bundled sample disc, split and checked with the tools a user would
// open the results with.
#include "cue/cue_reader.h"
#include "cue/layout.h"

#include "support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace {

struct audio_span {
    int track;
    std::int64_t first_sector;
    std::int64_t sectors;
};

// Where the layout puts the sample's audio tracks (see its TOC).
constexpr audio_span sample_audio[] = {{2, 235, 450}, {3, 685, 465}, {4, 1150, 330}};

class SampleDisc : public testing::TestWithParam<bool> {
protected:
    void SetUp() override
    {
        dir = scratch_dir();
        const fs::path source = sample_disc_dir(GetParam());
        name = GetParam() ? "sample_mode2" : "sample";
        for (const char* extension : {".cue", ".bin"})
            fs::copy_file(source / (name + extension), dir / (name + extension));
        reference_iso = source / (name + ".iso");
        reference_files = source / (name + "-files");
        out_dir = dir / (GetParam() ? "samplemode2" : "sample");
        run = run_tool({dir / (name + ".cue")});
    }

    fs::path dir, out_dir, reference_iso, reference_files;
    std::string name;
    command_result run;
};

std::string listing(const fs::path& root)
{
    std::string text;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        text += fs::relative(entry.path(), root).string();
        text += entry.is_regular_file() ? " " + std::to_string(entry.file_size()) + "\n" : "/\n";
    }
    return text;
}

} // namespace

TEST_P(SampleDisc, RunsCleanAndWritesTheToc)
{
    const std::string out_name = out_dir.filename().string();
    EXPECT_EQ(run.out, "Open file " + name + ".cue\n\nCreating directory: " + out_name + "\n\nCreating file: " +
                           out_name + ".toc\n\nProcessing file... track1.iso\nProcessing file... track2.ogg\n"
                           "Processing file... track3.ogg\nProcessing file... track4.ogg\nDone\n");
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(read_file(out_dir / (out_name + ".toc")),
              "Leadin\r\ntrack1.iso 00:03:10\r\ntrack2.ogg 00:06:00\r\ntrack3.ogg 00:06:15\r\n"
              "Pregap: 00:02:00\r\ntrack4.ogg 00:04:30\r\nLeadout\r\n");
}

TEST_P(SampleDisc, DataTrackIsTheIsoThatWentIn)
{
    ASSERT_EQ(read_file(out_dir / "track1.iso"), read_file(reference_iso));

    const command_result listed = run_command({"/usr/bin/isoinfo", "-R", "-l", "-i", (out_dir / "track1.iso").string()});
    EXPECT_EQ(listed.exit_status, 0);
    EXPECT_NE(listed.out.find("noise.bin"), std::string::npos) << listed.out;

    const fs::path extracted = dir / "extracted";
    const command_result x = run_command({"/usr/bin/xorriso", "-no_rc", "-osirrox", "on", "-indev",
                                          (out_dir / "track1.iso").string(), "-extract", "/", extracted.string()});
    ASSERT_EQ(x.exit_status, 0) << x.err;
    EXPECT_EQ(listing(extracted), listing(reference_files));
    for (const auto& entry : fs::recursive_directory_iterator(reference_files)) {
        if (entry.is_regular_file()) {
            EXPECT_EQ(read_file(extracted / fs::relative(entry.path(), reference_files)), read_file(entry.path()))
                << entry.path();
        }
    }
}

TEST_P(SampleDisc, AudioTracksDecodeLikeTheReferenceEncoder)
{
    const std::string bin = read_file(dir / (name + ".bin"));
    // Each row: trackcarve's -q (none: the default) and oggenc's.
    const std::pair<const char*, const char*> qualities[] = {{nullptr, "1"}, {"6", "6"}, {"-1", "-1"}, {"2.5", "2.5"}};
    for (const auto& [ours_q, oggenc_q] : qualities) {
        if (ours_q != nullptr) {
            const command_result again = run_command({TRACKCARVE_EXE, "-q", ours_q, (dir / (name + ".cue")).string()});
            ASSERT_EQ(again.exit_status, 0) << again.err;
        }
        for (const audio_span& span : sample_audio) {
            SCOPED_TRACE("track " + std::to_string(span.track) + ", -q " + oggenc_q);
            const fs::path ogg = out_dir / ("track" + std::to_string(span.track) + ".ogg");
            expect_ogginfo_accepts(ogg);
            const decoded_stream ours = decode_ogg(ogg);
            EXPECT_EQ(ours.channels, 2);
            EXPECT_EQ(ours.rate, 44100);
            EXPECT_EQ(ours.pcm_total, span.sectors * 588);

            // libvorbis is deterministic: the same frames, fed 1024 per pass at
            // the same quality, decode to the same samples, whatever the serial
            // number and comments.
            const fs::path raw = dir / "track.raw";
            write_file(raw, bin.substr(static_cast<std::size_t>(span.first_sector * 2352),
                                       static_cast<std::size_t>(span.sectors * 2352)));
            const fs::path reference = dir / "reference.ogg";
            const command_result enc =
                run_command({"/usr/bin/oggenc", "-Q", "-r", "-R", "44100", "-C", "2", "-B", "16", "--raw-endianness",
                             "0", "-q", oggenc_q, "-o", reference.string(), raw.string()});
            ASSERT_EQ(enc.exit_status, 0) << enc.err;
            EXPECT_TRUE(ours.samples == decode_ogg(reference).samples) << "decoded audio differs";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, SampleDisc, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& mode) { return mode.param ? "Mode2" : "Mode1"; });

// The sample as most dumps come: one BIN per track, each audio track's file
// beginning with its gap. Split, it gives what the same bytes in one BIN give.
TEST(RedumpStyleDisc, SplitsLikeTheSameBytesInOneBin)
{
    const fs::path dir = scratch_dir();
    for (const auto& entry : fs::directory_iterator(sample_disc_dir(false, true)))
        if (entry.is_regular_file())
            fs::copy_file(entry.path(), dir / entry.path().filename());
    const command_result files = run_tool({dir / "sample_redump.cue"});
    const command_result merged = run_tool({dir / "sample_redump-merged.cue"});
    EXPECT_EQ(files.exit_status, 0) << files.err;
    EXPECT_EQ(merged.exit_status, 0) << merged.err;
    EXPECT_EQ(files.err, "");

    const fs::path a = dir / "sampleredump";
    const fs::path b = dir / "sampleredumpmerged";
    EXPECT_EQ(read_file(a / "sampleredump.toc"), read_file(b / "sampleredumpmerged.toc"));
    EXPECT_TRUE(read_file(a / "track1.iso") == read_file(b / "track1.iso"));
    // The data track takes the 150 gap sectors at the head of track 2's file.
    EXPECT_EQ(fs::file_size(a / "track1.iso"), (235u + 150u) * 2048);
    for (const char* track : {"track2.ogg", "track3.ogg", "track4.ogg"}) {
        const decoded_stream ours = decode_ogg(a / track);
        EXPECT_GT(ours.pcm_total, 0) << track;
        EXPECT_TRUE(ours.samples == decode_ogg(b / track).samples) << track;
    }
}

// A reader nobody here wrote agrees: mednafen puts each track of the
// one-file-per-track sheet where it puts it in the merged sheet, and both
// where trackcarve's layout starts cutting it.
TEST(RedumpStyleDisc, MednafenPlacesTheTracksWhereTheLayoutDoes)
{
    const fs::path source = sample_disc_dir(false, true);
    const std::vector<std::int64_t> files = mednafen_lbas(source / "sample_redump.cue");
    EXPECT_EQ(files, mednafen_lbas(source / "sample_redump-merged.cue"));

    file_stream sheet(std::fopen((source / "sample_redump.cue").c_str(), "rb"));
    const cue_read read = read_cue_sheet(sheet.get(), [&source](const char* name, bool) {
        return static_cast<std::int64_t>(fs::file_size(source / name));
    });
    ASSERT_TRUE(read.ok);
    const disc_layout layout = lay_out_tracks(read.sheet);
    ASSERT_EQ(files.size(), static_cast<std::size_t>(layout.track_count) + 1) << "tracks and the lead-out";
    for (std::int32_t n = 1; n <= layout.track_count; ++n)
        EXPECT_EQ(files[static_cast<std::size_t>(n - 1)], layout.tracks[n].start_sector) << "track " << n;
    const track_span& last = layout.tracks[layout.track_count];
    EXPECT_EQ(files.back(), last.start_sector + last.length_sectors);
}

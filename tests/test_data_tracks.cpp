#include "support.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>

#include <cstring>
#include <fstream>
#include <memory>
#include <string>

namespace {

class DataTracks : public track_fixture {
protected:
    // Extracts a data track and returns the .iso's bytes.
    std::string extract(std::int32_t start, std::int32_t length, int index = 0, bool mode2 = false)
    {
        const fs::path file = track_fixture::extract(track_span{start, length, 0, 0, mode2 ? 1 : 0}, index + 1);
        return fs::is_regular_file(file) ? read_file(file) : std::string("<missing>");
    }
};

} // namespace

TEST_F(DataTracks, CopiesTheUserDataOfEverySector)
{
    // 600 sectors: two whole reads of 256 sectors and a partial third.
    use_bin(patterned_sectors(0, 650));
    const std::string iso = extract(20, 600);
    ASSERT_EQ(iso.size(), 600u * 2048);
    for (int s = 0; s < 600; ++s)
        ASSERT_EQ(iso.substr(static_cast<std::size_t>(s) * 2048, 2048), patterned_user_data(20 + s, 1))
            << "sector " << s;
    EXPECT_TRUE(clean);
    EXPECT_EQ(console, "Processing file... track1.iso\n");
    EXPECT_EQ(diagnostics, "");
}

TEST_F(DataTracks, Mode2TakesUserDataAfterTheSubheader)
{
    use_bin(patterned_sectors(0, 3));
    const std::string iso = extract(0, 3, 0, true);
    ASSERT_EQ(iso.size(), 3u * 2048);
    EXPECT_EQ(iso.substr(2048, 2048), patterned_user_data(1, 1, 24));
}

TEST_F(DataTracks, ZeroLengthGivesAnEmptyFile)
{
    use_bin(patterned_sectors(0, 3));
    EXPECT_EQ(extract(0, 0), "");
    EXPECT_EQ(console, "Processing file... track1.iso\n");
    EXPECT_TRUE(clean);
    EXPECT_EQ(extract(0, -5), "");
}

TEST_F(DataTracks, TrackCutByTheEndOfTheBinIsPaddedAndReported)
{
    // 3 whole sectors and 100 bytes of a fourth; the track wants 6.
    use_bin(patterned_sectors(0, 4).substr(0, 3 * 2352 + 100));
    const std::string iso = extract(0, 6);
    ASSERT_EQ(iso.size(), 6u * 2048);
    EXPECT_EQ(iso.substr(0, 3 * 2048), patterned_user_data(0, 3));
    // The cut sector keeps bytes 16..99, zeros after them.
    EXPECT_EQ(iso.substr(3 * 2048, 84), patterned_user_data(3, 1).substr(0, 84));
    EXPECT_EQ(iso.substr(3 * 2048 + 84), std::string(2048 - 84 + 2 * 2048, '\0'));
    EXPECT_FALSE(clean);
    EXPECT_EQ(diagnostics,
              "trackcarve: track1.iso: the BIN ends 3 sectors before the end of the track; padded with zeros\n");
}

TEST_F(DataTracks, StartBeyondTheEndOrNegativeGivesZeros)
{
    use_bin(patterned_sectors(0, 4));
    EXPECT_EQ(extract(10, 2), std::string(2 * 2048, '\0'));
    EXPECT_FALSE(clean);
    EXPECT_EQ(extract(-3, 2), std::string(2 * 2048, '\0'));
    EXPECT_FALSE(clean);
}

TEST_F(DataTracks, PaddingFarPastTheBinIsWrittenAtOnce)
{
    // A corrupt INDEX can ask for terabytes; the zeros after the BIN's end
    // are appended in one call (a hole), not written block by block.
    use_bin(patterned_sectors(0, 3));
    const fs::path iso = track_fixture::extract(track_span{1, 2'000'000, 0, 0, 0});
    ASSERT_EQ(fs::file_size(iso), 2'000'000ull * 2048);
    std::ifstream file(iso, std::ios::binary);
    std::string head(2 * 2048 + 16, '\0');
    file.read(head.data(), static_cast<std::streamsize>(head.size()));
    EXPECT_EQ(head, patterned_user_data(1, 2) + std::string(16, '\0'));
    EXPECT_EQ(diagnostics,
              "trackcarve: track1.iso: the BIN ends 1999998 sectors before the end of the track; padded with zeros\n");
}

TEST_F(DataTracks, FileIsNamedAfterTheTrackNumber)
{
    use_bin(patterned_sectors(0, 1));
    EXPECT_EQ(extract(0, 1, 9).size(), 2048u);
    EXPECT_EQ(console, "Processing file... track10.iso\n");
    EXPECT_TRUE(fs::exists(dir / "disc" / "track10.iso"));
}

TEST_F(DataTracks, UncreatableFileIsReportedAndNothingRead)
{
    use_bin(patterned_sectors(0, 1));
    fs::create_directory(dir / "disc" / "track1.iso");
    extract(0, 1);
    EXPECT_EQ(console, "Processing file... track1.iso\n");
    EXPECT_FALSE(clean);
    EXPECT_NE(diagnostics.find("trackcarve: cannot create " + (dir / "disc" / "track1.iso").string()),
              std::string::npos);
}

TEST_F(DataTracks, StartBeyondFourGibibytesIsReadFromTheRightPlace)
{
    // A sparse BIN: 2,000,000 sectors (4.7 GB) of holes, then 2 patterned sectors.
    const std::int64_t far_sector = 2'000'000;
    write_file(dir / "disc.bin", "");
    fs::resize_file(dir / "disc.bin", static_cast<std::uintmax_t>(far_sector * 2352));
    {
        std::FILE* f = std::fopen((dir / "disc.bin").c_str(), "ab");
        const std::string tail = patterned_sectors(far_sector, 2);
        std::fwrite(tail.data(), 1, tail.size(), f);
        std::fclose(f);
    }
    bin.parts = {file_part((dir / "disc.bin").string(), 0, (far_sector + 2) * 2352)};
    EXPECT_EQ(extract(static_cast<std::int32_t>(far_sector), 2), patterned_user_data(far_sector, 2));
    EXPECT_TRUE(clean);
}

TEST(DataTracksOnDisk, FullDiskIsReportedWithExitStatusOne)
{
    const fs::path dir = scratch_dir();
    write_file(dir / "disc.bin", patterned_sectors(0, 100));
    write_file(dir / "disc.cue", "FILE \"disc.bin\" BINARY\nTRACK 01 MODE1/2352\nINDEX 01 00:00:00\n");
    // Files may grow to 64 KB only; the track needs 200 KB.
    const command_result r = run_command({TRACKCARVE_EXE, (dir / "disc.cue").string()}, {}, [] {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{64 * 1024, 64 * 1024};
        setrlimit(RLIMIT_FSIZE, &limit);
    });
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_NE(r.err.find("trackcarve: cannot write " + (dir / "disc" / "track1.iso").string() + ": File too large"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.out.find("Done\n"), std::string::npos);
}

// A source's parts: a byte range inside its file (a WAVE file's data, say),
// and a decoded part, here the pattern's sectors 3 and 4 that stop short
// after `good` bytes. Reads and copies across them give the pattern, and
// stop where the decoder stops.
TEST_F(DataTracks, PartsFromFileRangesAndDecodersReadAsOneBin)
{
    struct pattern_decoder : part_decoder {
        std::size_t good;
        explicit pattern_decoder(std::size_t good_bytes) : good(good_bytes) {}
        std::size_t read(std::int64_t offset, unsigned char* buffer, std::size_t size) override
        {
            const std::string bytes = patterned_sectors(3, 2).substr(0, good);
            const auto from = std::min(static_cast<std::size_t>(offset), bytes.size());
            const std::size_t count = std::min(size, bytes.size() - from);
            std::memcpy(buffer, bytes.data() + from, count);
            return count;
        }
    };
    write_file(dir / "disc.bin", "RIFF-ish header" + patterned_sectors(0, 3));
    for (const std::size_t good : {std::size_t{2 * 2352}, std::size_t{2352 + 100}}) {
        bin.parts = {file_part((dir / "disc.bin").string(), 0, 3 * 2352, 15)};
        bin.parts.push_back(file_part("decoded", 3 * 2352, 2 * 2352));
        bin.parts.back().decoder = [good](const bin_part&) { return std::make_unique<pattern_decoder>(good); };
        bin.size_bytes = 5 * 2352;
        writer.bin = bin_reader{};   // no part of the last round's BIN kept open
        writer.bin.bin = &bin;
        const std::string expected = patterned_sectors(0, 5).substr(0, 3 * 2352 + good);
        std::string read(5 * 2352, '\0');
        bin_reader reader;
        reader.bin = &bin;
        read.resize(read_bin(reader, 0, reinterpret_cast<unsigned char*>(read.data()), read.size()));
        EXPECT_EQ(read, expected) << good;
        EXPECT_EQ(extract(0, 5, 0, false).substr(0, 4 * 2048), patterned_user_data(0, 4).substr(0, 4 * 2048));
        writer.format.raw_data = true;
        const fs::path raw = track_fixture::extract(track_span{0, 5, 0, 0, 0}, 1);
        EXPECT_EQ(read_file(raw).substr(0, expected.size()), expected) << good;
        writer.format.raw_data = false;
    }
}

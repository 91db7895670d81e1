// Every file a sheet names: a music rip as one WAVE, one FLAC (made by sox
// and flac) or one big-endian file, and a MODE1/2048 image beside audio.
// Each split --flac gives the source's exact samples per track and its .iso
// the image's bytes; mednafen reads the same table of contents from the
// emulator sheet as from the source. Files of other kinds are refused.
#include "cue/sector_codes.h"

#include "support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Three tracks of a music rip, in sectors: 100, 150 (its last 20 a gap
// before track 3), 130. Samples that tell their place.
constexpr std::int64_t rip_sectors = 380;
std::string rip_pcm() { return patterned_sectors(1000, rip_sectors); }

const char* const rip_tracks = "  TRACK 01 AUDIO\n    TITLE \"First\"\n    INDEX 01 00:00:00\n"
                               "  TRACK 02 AUDIO\n    TITLE \"Second\"\n    INDEX 01 00:01:25\n"
                               "  TRACK 03 AUDIO\n    INDEX 00 00:03:05\n    INDEX 01 00:03:25\n";

std::string swapped_pairs(std::string bytes)
{
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
        std::swap(bytes[i], bytes[i + 1]);
    return bytes;
}

void sox(const fs::path& dir, const std::vector<std::string>& args)
{
    std::vector<std::string> command{"/usr/bin/sox"};
    command.insert(command.end(), args.begin(), args.end());
    const command_result r = run_command(command, dir);
    ASSERT_EQ(r.exit_status, 0) << "sox (scripts/install-deps.sh installs it): " << r.err;
}

// The rip's audio as the file the row wants, and the sheet over it.
void write_rip(const fs::path& dir, const std::string& kind)
{
    write_file(dir / "rip.raw", rip_pcm());
    const std::vector<std::string> raw{"-t", "raw", "-r", "44100", "-c", "2", "-b", "16", "-e", "signed", "-L"};
    std::string file = "rip.wav";
    std::string word = "WAVE";
    if (kind == "MOTOROLA") {
        write_file(dir / "rip.be", swapped_pairs(rip_pcm()));
        file = "rip.be";
        word = kind;
    } else {
        std::vector<std::string> args = raw;
        args.insert(args.end(), {"rip.raw", "rip.wav"});
        sox(dir, args);
    }
    if (kind == "FLAC") {   // the word WAVE, as rips call their FLAC files
        ASSERT_EQ(run_command({"/usr/bin/flac", "-s", "rip.wav", "-o", "rip.flac"}, dir).exit_status, 0);
        file = "rip.flac";
    }
    write_file(dir / "rip.cue", "TITLE \"Album\"\nFILE \"" + file + "\" " + word + "\n" + rip_tracks);
}

std::string flac_samples(const fs::path& path)
{
    const command_result r = run_command(
        {"/usr/bin/flac", "-s", "-d", "-c", "--force-raw-format", "--endian=little", "--sign=signed", path.string()});
    EXPECT_EQ(r.exit_status, 0) << path;
    return r.out;
}

// Equal bytes, without printing megabytes when they are not.
bool same_bytes(const std::string& a, const std::string& b) { return a == b; }

std::string sectors_of(const std::string& bytes, std::int64_t first, std::int64_t count)
{
    return bytes.substr(static_cast<std::size_t>(first * 2352), static_cast<std::size_t>(count * 2352));
}

} // namespace

TEST(DiscFiles, AMusicRipSplitsIntoItsExactSamples)
{
    for (const char* kind : {"WAVE", "FLAC", "MOTOROLA"}) {
        const fs::path dir = scratch_dir() / kind;
        fs::create_directories(dir);
        write_rip(dir, kind);
        const command_result r = run_tool({"--flac", "rip.cue"}, dir);
        EXPECT_EQ(r.exit_status, 0) << kind << r.err;
        EXPECT_EQ(r.out, full_console("rip.cue", "rip", {"track1.flac", "track2.flac", "track3.flac"})) << kind;
        const std::string pcm = rip_pcm();
        EXPECT_TRUE(same_bytes(flac_samples(dir / "rip" / "track1.flac"), sectors_of(pcm, 0, 100))) << kind;
        EXPECT_TRUE(same_bytes(flac_samples(dir / "rip" / "track2.flac"), sectors_of(pcm, 100, 150))) << kind;
        EXPECT_TRUE(same_bytes(flac_samples(dir / "rip" / "track3.flac"), sectors_of(pcm, 250, 130))) << kind;
        const command_result title =
            run_command({"/usr/bin/metaflac", "--show-tag=TITLE", "--show-tag=ALBUM", (dir / "rip" / "track2.flac").string()});
        EXPECT_EQ(title.out, "TITLE=Second\nALBUM=Album\n") << kind;
        // Zipped, the same tracks: the file read by what its first bytes hold there too.
        const std::string audio = std::string(kind) == "MOTOROLA" ? "rip.be" : std::string(kind) == "FLAC" ? "rip.flac"
                                                                                                          : "rip.wav";
        const command_result zip = run_command({"/usr/bin/bsdtar", "-a", "-cf", "rip.zip", "rip.cue", audio}, dir);
        ASSERT_EQ(zip.exit_status, 0) << zip.err;
        ASSERT_EQ(run_tool({"--flac", "-o", "zipped", "rip.zip"}, dir).exit_status, 0) << kind;
        for (const char* track : {"track1.flac", "track2.flac", "track3.flac"})
            EXPECT_TRUE(same_bytes(read_file(dir / "zipped" / "rip" / track), read_file(dir / "rip" / track)))
                << kind << " " << track;
        // Mednafen reads no MOTOROLA file: its table is the same as the others' then.
        const std::vector<std::int64_t> lbas{0, 100, 250, 380};
        EXPECT_EQ(mednafen_lbas(dir / "rip" / "rip.cue"), lbas) << kind;
        if (std::string(kind) != "MOTOROLA") {
            EXPECT_EQ(mednafen_lbas(dir / "rip.cue"), lbas) << kind;
        }
    }
}

// The rip as one FLAC file a track, each track's gap at the start of its
// file, in a .zip and a .7z: read straight from the archive (from the 7z in
// one pass, nothing unpacked), the same track files and hashes as unpacked.
TEST(DiscFiles, OneFlacFileATrackInAnArchiveIsReadStraight)
{
    const fs::path dir = scratch_dir();
    const std::string pcm = rip_pcm();
    std::string sheet = "TITLE \"Album\"\n";
    const std::int64_t starts[] = {0, 90, 240, rip_sectors};
    for (int n = 1; n <= 3; ++n) {
        const std::string name = "t" + std::to_string(n);
        write_file(dir / (name + ".raw"), sectors_of(pcm, starts[n - 1], starts[n] - starts[n - 1]));
        sox(dir, {"-t", "raw", "-r", "44100", "-c", "2", "-b", "16", "-e", "signed", "-L", name + ".raw", name + ".wav"});
        ASSERT_EQ(run_command({"/usr/bin/flac", "-s", name + ".wav", "-o", name + ".flac"}, dir).exit_status, 0);
        sheet += "FILE \"" + name + ".flac\" WAVE\n  TRACK 0" + std::to_string(n) + " AUDIO\n" +
                 (n == 1 ? "" : "    INDEX 00 00:00:00\n") + "    INDEX 01 00:00:" + (n == 1 ? "00" : "10") + "\n";
    }
    write_file(dir / "rip.cue", sheet);
    const command_result unpacked = run_tool({"--flac", "--hash", "rip.cue"}, dir);
    ASSERT_EQ(unpacked.exit_status, 0) << unpacked.err;
    const std::int64_t track_sectors[][2] = {{0, 100}, {100, 150}, {250, 130}};
    for (int n = 1; n <= 3; ++n)
        EXPECT_TRUE(same_bytes(flac_samples(dir / "rip" / ("track" + std::to_string(n) + ".flac")),
                               sectors_of(pcm, track_sectors[n - 1][0], track_sectors[n - 1][1])));
    for (const char* archive : {"rip.zip", "rip.7z"}) {
        ASSERT_EQ(run_command({"/usr/bin/bsdtar", "-a", "-cf", archive, "rip.cue", "t1.flac", "t2.flac", "t3.flac"}, dir)
                      .exit_status, 0);
        const std::string out = std::string("from-") + archive;
        const command_result r = run_tool({"--flac", "--hash", "--report", "log.jsonl", "-o", out, archive}, dir);
        EXPECT_EQ(r.exit_status, 0) << archive << r.err;
        EXPECT_EQ(r.out.substr(r.out.find("Done\n")), unpacked.out.substr(unpacked.out.find("Done\n"))) << archive;
        for (const char* track : {"track1.flac", "track2.flac", "track3.flac"})
            EXPECT_TRUE(same_bytes(read_file(dir / out / "rip" / track), read_file(dir / "rip" / track))) << track;
    }
    EXPECT_NE(read_file(dir / "log.jsonl").find("\"unpacked_bytes\":0"), std::string::npos) << "the 7z: nothing";
}

TEST(DiscFiles, AnIsoBesideAWaveFileGivesItsBytesAndRegeneratedSectors)
{
    const fs::path dir = scratch_dir();
    const std::string user_data = patterned_user_data(0, 40);
    write_file(dir / "game.iso", user_data);
    write_file(dir / "music.raw", patterned_sectors(40, 30));
    sox(dir, {"-t", "raw", "-r", "44100", "-c", "2", "-b", "16", "-e", "signed", "-L", "music.raw", "music.wav"});
    write_file(dir / "game.cue", "FILE \"game.iso\" BINARY\n  TRACK 01 MODE1/2048\n    INDEX 01 00:00:00\n"
                                 "FILE \"music.wav\" WAVE\n  TRACK 02 AUDIO\n    PREGAP 00:02:00\n"
                                 "    INDEX 01 00:00:00\n");
    ASSERT_EQ(run_tool({"--flac", "game.cue"}, dir).exit_status, 0);
    EXPECT_TRUE(same_bytes(read_file(dir / "game" / "track1.iso"), user_data));
    EXPECT_TRUE(same_bytes(flac_samples(dir / "game" / "track2.flac"), patterned_sectors(40, 30)));
    EXPECT_EQ(mednafen_lbas(dir / "game" / "game.cue"), mednafen_lbas(dir / "game.cue"));

    fs::remove_all(dir / "game");
    ASSERT_EQ(run_tool({"--raw-data", "game.cue"}, dir).exit_status, 0);
    const std::string raw = read_file(dir / "game" / "track1.bin");
    ASSERT_EQ(raw.size(), 40u * 2352);
    for (std::int32_t lba = 0; lba < 40; ++lba) {
        const auto* sector = reinterpret_cast<const unsigned char*>(raw.data()) + lba * 2352;
        EXPECT_TRUE(is_regenerable_mode1_sector(sector, lba)) << "sector " << lba;
        EXPECT_TRUE(same_bytes(raw.substr(lba * 2352u + 16, 2048), user_data.substr(lba * 2048u, 2048))) << lba;
    }
    EXPECT_EQ(mednafen_lbas(dir / "game" / "game.cue"), mednafen_lbas(dir / "game.cue"));
}

TEST(DiscFiles, FilesOfOtherKindsAreOneClearLine)
{
    struct refusal {
        const char* file;
        std::string bytes;   // "" for one sox makes
        const char* type_and_track;
        int line;
        const char* console;
        const char* err;
    };
    const std::vector<refusal> rows = {
        {"a.mp3", "ID3\x03\x00\x00\x00\x00\x00\x05xxxxx\xFF\xFB", "WAVE\nTRACK 01 AUDIO\n", 1, "CMD: FILE holds MP3 audio",
         "a.mp3 holds MP3 audio, which is not read"},
        {"a.bin", patterned_sectors(0, 2), "FLAC\nTRACK 01 AUDIO\n", 1, "CMD: FILE holds no FLAC stream",
         "a.bin holds no FLAC stream"},
        {"a.aiff", "", "AIFF\nTRACK 01 AUDIO\n", 1, "CMD: FILE holds AIFF audio", "a.aiff holds AIFF audio"},
        {"a.wav", "", "WAVE\nTRACK 01 AUDIO\n", 1, "CMD: FILE holds a WAVE file of 8-bit 22050 Hz 1-channel PCM",
         "convert it to such a FLAC or WAVE file"},
        {"b.wav", "", "WAVE\nTRACK 01 MODE1/2352\n", 2, "Invalid Track", "a data track in an audio file"},
        {"a.bin", patterned_sectors(0, 2), "BINARY\nTRACK 01 MODE1/2048\nTRACK 02 AUDIO\n", 3, "Invalid Track",
         "2048-byte and 2352-byte sectors in one file"},
    };
    const fs::path dir = scratch_dir();
    sox(dir, {"-n", "-r", "22050", "-c", "1", "-b", "8", "a.wav", "synth", "0.1", "sine", "300"});
    sox(dir, {"-n", "-r", "44100", "-c", "2", "-b", "16", "a.aiff", "synth", "0.1", "sine", "300"});
    sox(dir, {"-n", "-r", "44100", "-c", "2", "-b", "16", "b.wav", "synth", "0.1", "sine", "300"});
    for (const refusal& row : rows) {
        if (!row.bytes.empty())
            write_file(dir / row.file, row.bytes);
        write_file(dir / "x.cue", std::string("FILE \"") + row.file + "\" " + row.type_and_track);
        const command_result r = run_tool({"x.cue"}, dir);
        EXPECT_EQ(r.out, "Open file x.cue\n\nError!! line " + std::to_string(row.line) + " " + row.console + "\n")
            << row.file;
        EXPECT_NE(r.err.find(row.err), std::string::npos) << r.err;
        EXPECT_EQ(r.exit_status, 1);
        EXPECT_FALSE(fs::exists(dir / "x"));
    }
}

TEST(DiscFiles, AnAudioFileEndingInsideASectorIsFilledWithSilenceAndSaysSo)
{
    const fs::path dir = scratch_dir();
    write_file(dir / "a.raw", patterned_sectors(0, 3).substr(0, 2 * 2352 + 400));
    sox(dir, {"-t", "raw", "-r", "44100", "-c", "2", "-b", "16", "-e", "signed", "-L", "a.raw", "a.wav"});
    write_file(dir / "a.cue", "FILE \"a.wav\" WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n");
    const command_result r = run_tool({"--flac", "a.cue"}, dir);
    EXPECT_EQ(r.err, "trackcarve: line 1: a.wav ends 100 audio frames into a sector; the sector is filled with "
                     "silence\n");
    EXPECT_TRUE(same_bytes(flac_samples(dir / "a" / "track1.flac"),
                           patterned_sectors(0, 3).substr(0, 2 * 2352 + 400) + std::string(2352 - 400, '\0')));
}

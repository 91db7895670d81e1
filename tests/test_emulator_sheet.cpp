// The emulator sheet NAME.cue: its exact text, when it is withheld, and what
// readers nobody here wrote make of it. DOSBox mounts it and lists the data
// track's files; mednafen reads a table of contents that adds up from the
// track files and agrees with its reading of the source sheet; ffprobe counts
// whole sectors of audio in every .ogg.
#include "support.h"

#include <gtest/gtest.h>

#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

namespace {

// Lines ending in CR LF, as the program writes its sheets and TOCs.
std::string crlf_lines(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines)
        text += line + "\r\n";
    return text;
}

std::vector<std::string> names_in(const fs::path& dir)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// One track of a TOC: its file, and its pregap and length in sectors.
struct toc_track {
    std::string file;
    std::int64_t pregap = 0;
    std::int64_t length = 0;
};

std::int64_t msf_sectors(const std::string& msf)
{
    return std::stoll(msf.substr(0, 2)) * 4500 + std::stoll(msf.substr(3, 2)) * 75 + std::stoll(msf.substr(6, 2));
}

std::vector<toc_track> read_toc(const fs::path& path)
{
    std::vector<toc_track> tracks;
    std::int64_t pregap = 0;
    std::istringstream lines(read_file(path));
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line == "Leadin" || line == "Leadout")
            continue;
        const std::size_t blank = line.rfind(' ');
        if (line.starts_with("Pregap: ")) {
            pregap = msf_sectors(line.substr(blank + 1));
            continue;
        }
        tracks.push_back({line.substr(0, blank), pregap, msf_sectors(line.substr(blank + 1))});
        pregap = 0;
    }
    return tracks;
}

// The sample frames of an Ogg Vorbis file, as ffprobe counts them: the
// stream's duration in its 1/44100 time base. (Decoding with ffmpeg instead
// pads short files.)
std::int64_t ffprobe_frames(const fs::path& ogg)
{
    const command_result r = run_command({"/usr/bin/ffprobe", "-v", "error", "-select_streams", "a:0",
                                          "-show_entries", "stream=duration_ts", "-of", "csv=p=0", ogg.string()});
    EXPECT_NE(r.exit_status, 127) << "ffprobe is not installed (scripts/install-deps.sh installs ffmpeg)";
    EXPECT_EQ(r.exit_status, 0) << r.err;
    try {
        return std::stoll(r.out);
    } catch (const std::exception&) {
        ADD_FAILURE() << "ffprobe gave no duration for " << ogg << ": " << r.out << r.err;
        return -1;
    }
}

// The sectors an emulator sees in a track file: 2048 bytes each in a .iso,
// 588 sample frames each in a .ogg. A file of no whole number of sectors
// fails, since the two clients round such lengths differently.
std::int64_t file_sectors(const fs::path& file)
{
    if (file.extension() == ".iso") {
        const auto bytes = static_cast<std::int64_t>(fs::file_size(file));
        EXPECT_EQ(bytes % 2048, 0) << file;
        return bytes / 2048;
    }
    const std::int64_t frames = ffprobe_frames(file);
    EXPECT_EQ(frames % 588, 0) << file;
    return frames / 588;
}

// What DOSBox wrote for "imgmount d CUE -t iso" and "dir d:", run headless
// with C: on a scratch folder of its own and a throwaway HOME.
struct dosbox_report {
    std::string mount;     // MNT.TXT
    std::string listing;   // DIR.TXT
};

dosbox_report dosbox_mount(const fs::path& cue, const fs::path& work)
{
    const fs::path drive_c = work / "dosbox-c";
    const fs::path home = work / "dosbox-home";
    fs::create_directories(drive_c);
    fs::create_directories(home);
    // It creates MNT.TXT beside an older mnt.txt: neither may be left over.
    for (const char* name : {"MNT.TXT", "DIR.TXT", "mnt.txt", "dir.txt"})
        fs::remove(drive_c / name);
    const command_result r = run_command(
        {"/usr/bin/env", "HOME=" + home.string(), "SDL_VIDEODRIVER=dummy", "SDL_AUDIODRIVER=dummy",
         "/usr/bin/timeout", "20", "/usr/bin/dosbox", "-c", "mount c \"" + drive_c.string() + "\"", "-c",
         "imgmount d \"" + cue.string() + "\" -t iso > c:\\mnt.txt", "-c", "dir d: > c:\\dir.txt", "-c", "exit"});
    // Its exit status is 0 whether the mount worked or not: only the files tell.
    EXPECT_NE(r.exit_status, 127) << "dosbox is not installed (scripts/install-deps.sh installs it)";
    EXPECT_NE(r.exit_status, 124) << "dosbox did not stop";
    dosbox_report report;
    if (!fs::exists(drive_c / "MNT.TXT") || !fs::exists(drive_c / "DIR.TXT")) {
        ADD_FAILURE() << "dosbox wrote no MNT.TXT and DIR.TXT:\n" << r.out << r.err;
        return report;
    }
    report.mount = read_file(drive_c / "MNT.TXT");
    report.listing = read_file(drive_c / "DIR.TXT");
    return report;
}

// The lines "dir" gives for the top folder of the sample's file system: 8.3
// names, upper case, the name padded to eight places.
std::vector<std::string> dos_listing_starts(const fs::path& files)
{
    std::vector<std::string> starts;
    for (const auto& entry : fs::directory_iterator(files)) {
        std::string stem = entry.path().stem().string();
        std::string extension = entry.path().extension().string();
        if (!extension.empty())
            extension.erase(0, 1);
        for (std::string* part : {&stem, &extension})
            for (char& c : *part)
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        stem.resize(8, ' ');
        starts.push_back("\r\n" + stem + " " + (entry.is_directory() ? "      <DIR>" : extension));
    }
    return starts;
}

// The sample disc copied into the test's scratch folder and split there.
struct split_sample {
    fs::path dir;         // the copy of the source
    fs::path source_cue;  // its sheet
    fs::path out_dir;     // trackcarve's folder
    fs::path sheet;       // the emulator sheet in it
    fs::path toc;
    fs::path files;       // what went into the data track's file system
};

split_sample split_sample_disc(bool redump, bool raw_data = false)
{
    split_sample s;
    s.dir = scratch_dir();
    const fs::path source = sample_disc_dir(false, redump);
    for (const auto& entry : fs::directory_iterator(source))
        if (entry.is_regular_file())
            fs::copy_file(entry.path(), s.dir / entry.path().filename());
    const std::string name = redump ? "sample_redump" : "sample";
    const std::string out_name = redump ? "sampleredump" : "sample";
    s.source_cue = s.dir / (name + ".cue");
    s.out_dir = s.dir / out_name;
    s.sheet = s.out_dir / (out_name + ".cue");
    s.toc = s.out_dir / (out_name + ".toc");
    s.files = source / (name + "-files");
    const command_result run = raw_data ? run_command({TRACKCARVE_EXE, "--raw-data", s.source_cue.string()})
                                        : run_trackcarve(s.source_cue);
    EXPECT_EQ(run.exit_status, 0) << run.err;
    EXPECT_TRUE(fs::exists(s.sheet));
    return s;
}

void expect_dosbox_lists_the_files(const split_sample& sample)
{
    const dosbox_report dosbox = dosbox_mount(sample.sheet, sample.dir);
    EXPECT_NE(dosbox.mount.find("Drive D is mounted as " + sample.sheet.string() + "\r\n"), std::string::npos)
        << dosbox.mount;
    ASSERT_TRUE(dosbox.listing.starts_with("Directory of D:\\.\r\n")) << dosbox.listing;
    for (const std::string& start : dos_listing_starts(sample.files))
        EXPECT_NE(dosbox.listing.find(start), std::string::npos) << "no line " << start.substr(2) << " in\n"
                                                                 << dosbox.listing;
}

class SampleSheet : public testing::TestWithParam<bool> {
protected:
    void SetUp() override { sample = split_sample_disc(GetParam()); }
    split_sample sample;
};

} // namespace

// A disc that exercises every rule at once: a MODE2 data track, FLAGS lines
// with odd blanks, in lower case, with only a word that is no flag, and
// none; an INDEX 00 gap (in the track files, so no line) and a PREGAP (the
// TOC's "Pregap:", so a PREGAP line); ten tracks, so two-digit numbers.
TEST(EmulatorSheet, ExactTextOfAMixedDisc)
{
    const fs::path dir = scratch_dir();
    write_file(dir / "mixed.bin", patterned_sectors(0, 22));
    std::string cue = "FILE \"mixed.bin\" BINARY\n"
                      "  TRACK 01 MODE2/2352\n    FLAGS DCP\n    INDEX 01 00:00:00\n"
                      "  TRACK 02 AUDIO\n    FLAGS  DCP   PRE\n    INDEX 01 00:00:04\n"
                      "  TRACK 03 AUDIO\n    INDEX 01 00:00:06\n"
                      "  TRACK 04 AUDIO\n    INDEX 00 00:00:08\n    INDEX 01 00:00:09\n"
                      "  TRACK 05 AUDIO\n    FLAGS CDG\n    INDEX 01 00:00:11\n";
    for (int track = 6; track <= 9; ++track)
        cue += "  TRACK 0" + std::to_string(track) + " AUDIO\n    INDEX 01 00:00:" + std::to_string(track * 2 + 1) +
               "\n";
    cue += "  TRACK 10 AUDIO\n    flags\tpre 4ch\n    PREGAP 00:00:30\n    INDEX 01 00:00:21\n";
    write_file(dir / "Mixed Disc (v1).cue", cue);

    const command_result run = run_trackcarve(dir / "Mixed Disc (v1).cue");
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.exit_status, 0);
    std::vector<std::string> toc{"Leadin", "track1.iso 00:00:04", "track2.ogg 00:00:02", "track3.ogg 00:00:03"};
    for (int track = 4; track <= 9; ++track)
        toc.push_back("track" + std::to_string(track) + ".ogg 00:00:02");
    toc.insert(toc.end(), {"Pregap: 00:00:30", "track10.ogg 00:00:01", "Leadout"});
    EXPECT_EQ(read_file(dir / "MixedDiscv1" / "MixedDiscv1.toc"), crlf_lines(toc));

    std::vector<std::string> sheet{"REM SOURCE \"Mixed Disc (v1).cue\"",
                                   "FILE \"track1.iso\" BINARY", "  TRACK 01 MODE1/2048", "    FLAGS DCP",
                                   "    INDEX 01 00:00:00",
                                   "FILE \"track2.ogg\" OGG", "  TRACK 02 AUDIO", "    FLAGS DCP PRE",
                                   "    INDEX 01 00:00:00"};
    for (int track = 3; track <= 9; ++track)
        sheet.insert(sheet.end(), {"FILE \"track" + std::to_string(track) + ".ogg\" OGG",
                                   "  TRACK 0" + std::to_string(track) + " AUDIO", "    INDEX 01 00:00:00"});
    sheet.insert(sheet.end(), {"FILE \"track10.ogg\" OGG", "  TRACK 10 AUDIO", "    FLAGS PRE 4CH",
                               "    PREGAP 00:00:30", "    INDEX 01 00:00:00"});
    EXPECT_EQ(read_file(dir / "MixedDiscv1" / "MixedDiscv1.cue"), crlf_lines(sheet));
}

// A track the BIN cuts short: no sheet, one line that says why, and the sheet
// of an earlier, whole run is gone rather than left pointing at the new files.
TEST(EmulatorSheet, TrackCutByTheBinsEndRemovesTheOlderSheet)
{
    const fs::path dir = scratch_dir();
    write_file(dir / "disc.bin", patterned_sectors(0, 30));
    write_file(dir / "disc.cue", "FILE \"disc.bin\" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n"
                                 "  TRACK 02 AUDIO\n    INDEX 01 00:00:20\n");
    ASSERT_EQ(run_trackcarve(dir / "disc.cue").exit_status, 0);
    ASSERT_TRUE(fs::exists(dir / "disc" / "disc.cue"));

    write_file(dir / "disc.bin", patterned_sectors(0, 15));
    const command_result cut = run_trackcarve(dir / "disc.cue");
    EXPECT_EQ(cut.exit_status, 1);
    // The two losses are the track writers' lines; the sheet adds one.
    EXPECT_EQ(cut.err, "trackcarve: track1.iso: the BIN ends 5 sectors before the end of the track; padded with zeros\n"
                       "trackcarve: track2.ogg: the BIN ends 18816 audio frames before the end of the track; the "
                       "stream stops there\n"
                       "trackcarve: disc.cue not written: track1.iso was padded or cut where the BIN ended\n");
    EXPECT_EQ(names_in(dir / "disc"), (std::vector<std::string>{"disc.toc", "track1.iso", "track2.ogg"}));
}

// A sheet that names no BIN writes a new TOC and no track file: the older
// sheet would point at tracks this run did not make, beside a TOC that no
// longer lists them, and goes too.
TEST(EmulatorSheet, RunWithoutTrackFilesRemovesTheOlderSheet)
{
    const fs::path dir = scratch_dir();
    write_file(dir / "disc.bin", patterned_sectors(0, 30));
    const std::string tracks = "  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n  TRACK 02 AUDIO\n    INDEX 01 00:00:20\n";
    write_file(dir / "disc.cue", "FILE \"disc.bin\" BINARY\n" + tracks);
    ASSERT_EQ(run_trackcarve(dir / "disc.cue").exit_status, 0);
    ASSERT_TRUE(fs::exists(dir / "disc" / "disc.cue"));

    write_file(dir / "disc.cue", tracks);
    const command_result none = run_trackcarve(dir / "disc.cue");
    EXPECT_EQ(none.exit_status, 1);
    EXPECT_EQ(none.err, "trackcarve: the sheet names no BIN file; no track file written\n");
    EXPECT_FALSE(fs::exists(dir / "disc" / "disc.cue"));
}

// DOSBox mounts the sheet as a CD-ROM drive and lists the files of the
// sample's ISO 9660 file system.
TEST_P(SampleSheet, DosboxMountsItAndListsTheDataTracksFiles) { expect_dosbox_lists_the_files(sample); }

// The same off the --raw-data sheet, whose track1.bin holds MODE1/2352 sectors.
TEST(EmulatorSheet, DosboxMountsTheRawSheetAndListsTheDataTracksFiles)
{
    expect_dosbox_lists_the_files(split_sample_disc(false, true));
}

// The check above can fail: a sheet naming a file that is not there does not
// mount, and the drive lists nothing.
TEST(EmulatorSheet, DosboxRefusesASheetNamingAMissingFile)
{
    const split_sample sample = split_sample_disc(false);
    fs::remove(sample.out_dir / "track3.ogg");
    const dosbox_report dosbox = dosbox_mount(sample.sheet, sample.dir);
    EXPECT_NE(dosbox.mount.find("Could not load image file: " + sample.sheet.string()), std::string::npos)
        << dosbox.mount;
    EXPECT_EQ(dosbox.mount.find("mounted"), std::string::npos) << dosbox.mount;
    EXPECT_EQ(dosbox.listing.find("README"), std::string::npos) << dosbox.listing;
}

// Every track file holds whole sectors, exactly as many as the TOC gives the
// track: 2048 bytes of .iso, or 588 sample frames of .ogg, each.
TEST_P(SampleSheet, TrackFilesHoldTheTocsSectors)
{
    const std::vector<toc_track> toc = read_toc(sample.toc);
    ASSERT_EQ(toc.size(), 4u);
    for (const toc_track& track : toc)
        EXPECT_EQ(file_sectors(sample.out_dir / track.file), track.length) << track.file;
}

// mednafen's table of contents for the sheet: each track starts after the
// sectors of the track files before it and the pregaps up to its own, and
// the lead-out after them all.
//
// It is also the table mednafen reads from the source sheet. That holds
// only while no PREGAP comes before a later track: the layout takes a
// PREGAP's length off the INDEX positions of the tracks after it (up to the
// next INDEX 00), which mednafen does not, so from the next track on the two
// would differ by the gap. The sample's one PREGAP is on its last track, and
// mednafen adds it before that track in both sheets, so every track and the
// lead-out agree; the Redump-style disc has no PREGAP at all.
TEST_P(SampleSheet, MednafenReadsTheTrackFilesEndToEnd)
{
    const std::vector<std::int64_t> ours = mednafen_lbas(sample.sheet);
    const std::vector<toc_track> toc = read_toc(sample.toc);
    std::vector<std::int64_t> expected;
    std::int64_t position = 0;
    for (const toc_track& track : toc) {
        position += track.pregap;
        expected.push_back(position);
        position += file_sectors(sample.out_dir / track.file);
    }
    expected.push_back(position);
    EXPECT_EQ(ours, expected) << "track LBAs, then the lead-out";
    EXPECT_EQ(ours, mednafen_lbas(sample.source_cue)) << "the source sheet's table";
}

INSTANTIATE_TEST_SUITE_P(Discs, SampleSheet, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& disc) { return disc.param ? "Redump" : "OneBin"; });

// The emulator sheet NAME.cue: its exact text, when it is withheld, and what
// readers nobody here wrote make of it. DOSBox mounts it and lists the data
// track's files; mednafen reads a table of contents that adds up from the
// track files and agrees with its reading of the source sheet; ffprobe counts
// whole sectors of audio in every .ogg.
#include "support.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstdint>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

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

// CD-TEXT for the sample's sheet, each text in UTF-8 and in Windows-1252.
struct sheet_words {
    const char* utf8;
    const char* windows_1252;
};
constexpr sheet_words album{"Café Sampler", "Caf\xE9 Sampler"};
constexpr sheet_words band{"Sigur Rós & Björk", "Sigur R\xF3s & Bj\xF6rk"};
constexpr sheet_words song{"Ágætis byrjun – Naïve", "\xC1g\xE6tis byrjun \x96 Na\xEFve"};
constexpr sheet_words singer{"Jónsi", "J\xF3nsi"};

enum class cd_text { none, utf8, windows_1252 };

// The CD-TEXT lines added to the sample's sheet: the disc's before it, each
// track's after its TRACK line.
std::map<std::string, std::vector<std::string>> cd_text_lines(cd_text encoding)
{
    const auto in = [encoding](const sheet_words& words) {
        return std::string("\"") + (encoding == cd_text::utf8 ? words.utf8 : words.windows_1252) + "\"";
    };
    return {{"", {"CATALOG 0724384260910", "PERFORMER " + in(band), "TITLE " + in(album), "REM GENRE \"Post-Rock\"",
                  "REM DATE 2001"}},
            {"  TRACK 02 AUDIO", {"    TITLE " + in(song), "    PERFORMER " + in(singer),
                                  "    SONGWRITER Kjartan Sveinsson", "    ISRC ISXXX0100002"}},
            {"  TRACK 03 AUDIO", {"    TITLE \"Olsen Olsen\""}}};
}

std::string sheet_with_cd_text(const std::string& sheet, cd_text encoding)
{
    const auto lines = cd_text_lines(encoding);
    std::string text;
    for (const std::string& line : lines.at(""))
        text += line + "\n";
    std::istringstream in(sheet);
    for (std::string line; std::getline(in, line);) {
        text += line + "\n";
        if (const auto added = lines.find(line); added != lines.end())
            for (const std::string& extra : added->second)
                text += extra + "\n";
    }
    return text;
}

// How the sample is split: its sheet, the options, the type word the audio
// FILE lines should get, and the CD-TEXT added to the sheet.
struct sample_case {
    const char* name;
    bool redump;
    std::vector<std::string> options;
    const char* audio_word;
    cd_text text;
};

split_sample split_sample_disc(const sample_case& how)
{
    split_sample s;
    s.dir = scratch_dir();
    const fs::path source = sample_disc_dir(false, how.redump);
    for (const auto& entry : fs::directory_iterator(source))
        if (entry.is_regular_file())
            fs::copy_file(entry.path(), s.dir / entry.path().filename());
    const std::string name = how.redump ? "sample_redump" : "sample";
    const std::string out_name = how.redump ? "sampleredump" : "sample";
    s.source_cue = s.dir / (name + ".cue");
    s.out_dir = s.dir / out_name;
    s.sheet = s.out_dir / (out_name + ".cue");
    s.toc = s.out_dir / (out_name + ".toc");
    s.files = source / (name + "-files");
    if (how.text != cd_text::none)
        write_file(s.source_cue, sheet_with_cd_text(read_file(s.source_cue), how.text));
    std::vector<std::string> arguments = how.options;
    arguments.push_back(s.source_cue.string());
    const command_result run = run_tool(arguments);
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

void PrintTo(const sample_case& how, std::ostream* out) { *out << how.name; }

class SampleSheet : public testing::TestWithParam<sample_case> {
protected:
    void SetUp() override { sample = split_sample_disc(GetParam()); }
    split_sample sample;
};

// The Vorbis comments of a .ogg or .flac.
std::vector<std::string> comments_in(const fs::path& file)
{
    if (file.extension() == ".ogg")
        return decode_ogg(file).comments;
    const command_result r = run_command({"/usr/bin/metaflac", "--export-tags-to=-", file.string()});
    EXPECT_EQ(r.exit_status, 0) << "metaflac: " << r.err;
    std::vector<std::string> comments;
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);)
        comments.push_back(line);
    return comments;
}

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

    const command_result run = run_tool({dir / "Mixed Disc (v1).cue"});
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
    ASSERT_EQ(run_tool({dir / "disc.cue"}).exit_status, 0);
    ASSERT_TRUE(fs::exists(dir / "disc" / "disc.cue"));

    write_file(dir / "disc.bin", patterned_sectors(0, 15));
    const command_result cut = run_tool({dir / "disc.cue"});
    EXPECT_EQ(cut.exit_status, 1);
    // The two losses are the track writers' lines; the sheet adds one.
    EXPECT_EQ(cut.err, "trackcarve: track1.iso: the BIN ends 5 sectors before the end of the track; padded with zeros\n"
                       "trackcarve: track2.ogg: the BIN ends 18816 audio frames before the end of the track; the "
                       "stream stops there\n"
                       "trackcarve: disc.cue not written: track1.iso was padded or cut where the BIN ended\n");
    EXPECT_EQ(names_in(dir / "disc"), (std::vector<std::string>{".trackcarve-owner", ".trackcarve-record", "disc.toc",
                                                          "track1.iso", "track2.ogg"}));
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
    ASSERT_EQ(run_tool({dir / "disc.cue"}).exit_status, 0);
    ASSERT_TRUE(fs::exists(dir / "disc" / "disc.cue"));

    write_file(dir / "disc.cue", tracks);
    const command_result none = run_tool({dir / "disc.cue"});
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
    expect_dosbox_lists_the_files(split_sample_disc({"Raw", false, {"--raw-data"}, "OGG", cd_text::none}));
}

// The check above can fail: a sheet naming a file that is not there does not
// mount, and the drive lists nothing.
TEST(EmulatorSheet, DosboxRefusesASheetNamingAMissingFile)
{
    const split_sample sample = split_sample_disc({"OneBin", false, {}, "OGG", cd_text::none});
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
// the lead-out after them all. It is also the table mednafen reads from the
// source sheet.
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

// Every audio FILE line has the type word of the run's choice, and every
// audio file the tags of its track: the sheet's CD-TEXT in UTF-8, whatever
// the sheet's encoding; the emulator sheet keeps the CD-TEXT lines as they
// stand, the disc's after REM SOURCE and each track's after its TRACK line.
TEST_P(SampleSheet, AudioFilesHaveTheirTypeWordAndTags)
{
    const std::string sheet = read_file(sample.sheet);
    const bool has_text = GetParam().text != cd_text::none;
    for (const toc_track& track : read_toc(sample.toc)) {
        if (track.file.ends_with(".iso"))
            continue;
        SCOPED_TRACE(track.file);
        EXPECT_NE(sheet.find("FILE \"" + track.file + "\" " + GetParam().audio_word + "\r\n"), std::string::npos)
            << sheet;
        const std::string number = track.file.substr(5, 1);
        std::vector<std::string> tags{"ENCODER=encoder_example", "TRACKNUMBER=" + number, "TRACKTOTAL=4"};
        if (has_text) {
            const bool two = number == "2";
            tags.push_back(std::string("ALBUM=") + album.utf8);
            tags.push_back(std::string("ARTIST=") + (two ? singer.utf8 : band.utf8));
            tags.push_back(std::string("ALBUMARTIST=") + band.utf8);
            if (number != "4")
                tags.push_back(std::string("TITLE=") + (two ? song.utf8 : "Olsen Olsen"));
            if (two)
                tags.push_back("COMPOSER=Kjartan Sveinsson");
            tags.insert(tags.end(), {"GENRE=Post-Rock", "DATE=2001"});
            if (two)
                tags.push_back("ISRC=ISXXX0100002");
        }
        EXPECT_EQ(comments_in(sample.out_dir / track.file), tags);
    }
    if (!has_text)
        return;
    const auto lines = cd_text_lines(GetParam().text);
    const std::vector<std::string>& disc = lines.at("");
    EXPECT_TRUE(sheet.starts_with(crlf_lines({"REM SOURCE \"sample.cue\"", disc[0], disc[1], disc[2],
                                              "FILE \"track1.iso\" BINARY"})))
        << sheet;
    for (const char* track : {"  TRACK 02 AUDIO", "  TRACK 03 AUDIO"}) {
        std::vector<std::string> block{track};
        block.insert(block.end(), lines.at(track).begin(), lines.at(track).end());
        block.push_back("    INDEX 01 00:00:00");
        EXPECT_NE(sheet.find(crlf_lines(block)), std::string::npos) << sheet;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Discs, SampleSheet,
    testing::Values(sample_case{"OneBin", false, {}, "OGG", cd_text::none},
                    sample_case{"Redump", true, {}, "OGG", cd_text::none},
                    sample_case{"FlacTextInWindows1252", false, {"--flac", "--text-encoding", "cp1252"}, "WAVE",
                                cd_text::windows_1252},
                    sample_case{"WaveWordTextInUtf8", false, {"--sheet-word", "WAVE"}, "WAVE", cd_text::utf8},
                    sample_case{"FlacOggWord", false, {"--flac", "--sheet-word", "OGG"}, "OGG", cd_text::none},
                    sample_case{"Lossless", false, {"--lossless"}, "WAVE", cd_text::utf8}),
    [](const testing::TestParamInfo<sample_case>& disc) { return disc.param.name; });

// ---- discs whose gaps the old layout got wrong: a PREGAP moved and cut the
// tracks after it, and track 1 started at sector 0 whatever its INDEX 01.

namespace {

// A BIN of the sheet: silent sectors, then patterned ones.
struct bin_content {
    const char* name;
    std::int64_t silent, patterned;
};

struct gap_row {
    const char* name;
    std::vector<bin_content> bins;
    std::string sheet;
    std::vector<std::int64_t> sectors;   // each track's, as every reader counts them
    std::string err;
};

void PrintTo(const gap_row& row, std::ostream* os) { *os << row.name; }

const std::string three_tracks = "TRACK 01 AUDIO\nINDEX 01 00:00:00\nTRACK 02 AUDIO\nPREGAP 00:02:00\n";
const std::string first_at_two_seconds =
    "FILE \"h.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:02:00\nTRACK 02 AUDIO\nINDEX 01 00:12:00\n";

const gap_row gap_rows[] = {
    {"PregapMidDiscOneBin", {{"a.bin", 0, 2250}},
     "FILE \"a.bin\" BINARY\n" + three_tracks + "INDEX 01 00:10:00\nTRACK 03 AUDIO\nINDEX 01 00:20:00\n",
     {750, 750, 750}, ""},
    {"PregapMidDiscOneBinPerTrack", {{"1.bin", 0, 750}, {"2.bin", 0, 750}, {"3.bin", 0, 750}},
     "FILE \"1.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nFILE \"2.bin\" BINARY\nTRACK 02 AUDIO\n"
     "PREGAP 00:02:00\nINDEX 01 00:00:00\nFILE \"3.bin\" BINARY\nTRACK 03 AUDIO\nINDEX 01 00:00:00\n",
     {750, 750, 750}, ""},
    {"AudioTrackOneAfterASilentGap", {{"h.bin", 150, 1500}}, first_at_two_seconds, {750, 750}, ""},
    {"AudioTrackOneAfterHiddenAudio", {{"h.bin", 0, 1650}}, first_at_two_seconds, {750, 750}, ""},
    {"MixedDiscWithTwoPregaps", {{"m.bin", 0, 1425}},
     "FILE \"m.bin\" BINARY\nTRACK 01 MODE1/2352\nINDEX 01 00:00:00\nTRACK 02 AUDIO\nPREGAP 00:02:00\n"
     "INDEX 01 00:04:00\nTRACK 03 AUDIO\nINDEX 01 00:09:00\nTRACK 04 AUDIO\nPREGAP 00:01:00\nINDEX 01 00:14:00\n",
     {300, 375, 375, 375}, ""},
};

class GapSheet : public testing::TestWithParam<gap_row> {};

} // namespace

// mednafen puts every track of our sheet where it puts it in the source
// sheet, and each track file holds exactly the track's sectors.
TEST_P(GapSheet, MednafenReadsTheSourcesTableAndEveryTrackIsWhole)
{
    const gap_row& row = GetParam();
    const fs::path dir = scratch_dir();
    for (const bin_content& bin : row.bins)
        write_file(dir / bin.name, std::string(static_cast<std::size_t>(bin.silent) * 2352, '\0') +
                                       patterned_sectors(bin.silent, bin.patterned));
    write_file(dir / "disc.cue", row.sheet);
    const command_result run = run_tool({dir / "disc.cue"});
    EXPECT_EQ(run.err, row.err);
    EXPECT_EQ(run.exit_status, row.err.empty() ? 0 : 1);
    EXPECT_EQ(mednafen_lbas(dir / "disc" / "disc.cue"), mednafen_lbas(dir / "disc.cue"));
    for (std::size_t n = 1; n <= row.sectors.size(); ++n) {
        const fs::path iso = dir / "disc" / ("track" + std::to_string(n) + ".iso");
        const fs::path ogg = fs::path(iso).replace_extension(".ogg");
        EXPECT_EQ(fs::exists(iso) ? static_cast<std::int64_t>(fs::file_size(iso)) / 2048 : decode_ogg(ogg).pcm_total / 588,
                  row.sectors[n - 1])
            << "track " << n;
    }
}

INSTANTIATE_TEST_SUITE_P(Discs, GapSheet, testing::ValuesIn(gap_rows),
                         [](const testing::TestParamInfo<gap_row>& row) { return std::string(row.param.name); });

// A dump that kept the gap before a data track 1: its .iso starts at INDEX
// 01, so the volume descriptor is at sector 16, and the sheet gives track 1
// no PREGAP, so DOSBox mounts it. What the gap holds is no audio, so no loss.
TEST(EmulatorSheet, DataTrackOneAfterItsGapMounts)
{
    const fs::path dir = scratch_dir();
    const fs::path sample = sample_disc_dir();
    write_file(dir / "gap.bin", patterned_sectors(0, 150) + read_file(sample / "sample.bin"));
    write_file(dir / "gap.cue",
               "FILE \"gap.bin\" BINARY\nTRACK 01 MODE1/2352\nINDEX 00 00:00:00\nPREGAP 00:01:00\nINDEX 01 00:02:00\n"
               "TRACK 02 AUDIO\nINDEX 01 00:05:10\nTRACK 03 AUDIO\nINDEX 00 00:09:10\nINDEX 01 00:11:10\n"
               "TRACK 04 AUDIO\nPREGAP 00:02:00\nINDEX 01 00:17:25\n");
    const command_result run = run_tool({dir / "gap.cue"});
    EXPECT_EQ(run.err, "");
    const std::string iso = read_file(dir / "gap" / "track1.iso");
    EXPECT_EQ(iso.substr(16 * 2048, 6), "\x01" "CD001");
    EXPECT_TRUE(iso == read_file(sample / "sample.iso"));
    const dosbox_report dosbox = dosbox_mount(dir / "gap" / "gap.cue", dir);
    for (const std::string& start : dos_listing_starts(sample / "sample-files"))
        EXPECT_NE(dosbox.listing.find(start), std::string::npos) << start.substr(2) << " in\n" << dosbox.mount;
}

// No reader takes a sheet of TRACK 100, and one that could not be written
// leaves none: either way the older sheet goes, as it would point at the
// new track files.
TEST(EmulatorSheet, OlderSheetGoesWhenNoNewOneIsWritten)
{
    const struct {
        int tracks;
        rlim_t file_size_limit;   // the sheet's 40 lines of tracks do not fit, each 2048-byte .iso does
        std::string err;
    } rows[] = {{100, RLIM_INFINITY,
                 "trackcarve: disc.cue not written: the disc has 100 tracks, and a CUE sheet holds at most 99\n"},
                {40, 2048, "trackcarve: cannot write {dir}/disc/disc.cue: File too large\n"}};
    for (const auto& row : rows) {
        const fs::path dir = scratch_dir();
        std::string cue = "FILE \"disc.bin\" BINARY\n";
        for (int n = 1; n <= row.tracks; ++n)
            cue += "TRACK " + std::to_string(n) + " MODE1/2352\nINDEX 01 00:00:" + std::to_string(n - 1) + "\n";
        write_file(dir / "disc.bin", patterned_sectors(0, row.tracks));
        write_file(dir / "disc.cue", cue);
        fs::create_directory(dir / "disc");
        write_file(dir / "disc" / "disc.cue", "REM SOURCE \"disc.cue\"\r\n");
        const command_result run = run_command({TRACKCARVE_EXE, (dir / "disc.cue").string()}, {}, [&row] {
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{row.file_size_limit, row.file_size_limit};
            setrlimit(RLIMIT_FSIZE, &limit);
        });
        std::string err = row.err;
        if (const std::size_t at = err.find("{dir}"); at != std::string::npos)
            err.replace(at, 5, dir.string());
        EXPECT_EQ(run.err, err);
        EXPECT_EQ(run.exit_status, 1);
        EXPECT_FALSE(fs::exists(dir / "disc" / "disc.cue")) << row.tracks << " tracks";
    }
}

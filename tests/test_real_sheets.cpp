// Sheets as they come in the wild, which earlier versions read into a wrong
// disc, lost audio of, or refused: each row's files, and mednafen's table
// of contents of the emulator sheet against its table of the source (or of
// a sheet it can read over the same BIN, where it cannot read the source).
#include "support.h"

#include "cue/sector_codes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

using files = std::vector<std::pair<std::string, std::string>>;

struct sheet_row {
    const char* name;
    files inputs;                        // written in the scratch folder
    std::string sheet;                   // the one the run is given
    std::vector<std::string> options;
    std::string err;                     // "{dir}/" for the scratch folder; exit 1 unless empty
    std::string out_dir;                 // "": nothing may be made
    std::vector<std::string> out_files;  // the output folder's names
    std::vector<std::string> toc;
    std::string reference;               // the sheet mednafen reads as the source; "": the sheet
    std::int64_t hidden_sectors = 0;     // track00.flac holds the first input's first sectors
    std::pair<std::string, std::string> copied = {};   // an input, and its copy in the output folder
};

void PrintTo(const sheet_row& row, std::ostream* out) { *out << row.name; }

std::string audio(std::int64_t sectors) { return patterned_sectors(0, sectors); }

const std::string two_tracks = "  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n  TRACK 02 AUDIO\n    INDEX 01 00:02:00\n";
const std::vector<std::string> two_files{".trackcarve-owner", ".trackcarve-record", "disc.cue",
                                         "disc.toc",          "track1.ogg",         "track2.ogg"};
const std::vector<std::string> two_tocs{"Leadin", "track1.ogg 00:02:00", "track2.ogg 00:03:25", "Leadout"};

std::string utf16_with_mark(const std::string& ascii)
{
    std::string text = "\xFF\xFE";
    for (const char c : ascii)
        text += {c, '\0'};
    return text;
}

const sheet_row sheet_rows[] = {
    // A PREGAP before the INDEX 00 gap the BIN holds: both count.
    {"PregapBeforeIndexZero",
     {{"disc.bin", audio(1000)},
      {"d.cue", "FILE \"disc.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nTRACK 02 AUDIO\nPREGAP 00:00:30\n"
                "INDEX 00 00:03:10\nINDEX 01 00:05:10\nTRACK 03 AUDIO\nINDEX 01 00:09:10\n"}},
     "d.cue", {}, "", "d",
     {".trackcarve-owner", ".trackcarve-record", "d.cue", "d.toc", "track1.ogg", "track2.ogg", "track3.ogg"},
     {"Leadin", "track1.ogg 00:05:10", "Pregap: 00:00:30", "track2.ogg 00:04:00", "track3.ogg 00:04:15", "Leadout"},
     ""},
    // ':' and '\' are bytes of a name on POSIX.
    {"ColonAndBackslashInTheSheetsName",
     {{"zelda.bin", audio(400)}, {"Zelda: Ocarina\\Time.cue", "FILE \"zelda.bin\" BINARY\n" + two_tracks}},
     "Zelda: Ocarina\\Time.cue", {}, "", "ZeldaOcarinaTime",
     {".trackcarve-owner", ".trackcarve-record", "ZeldaOcarinaTime.cue", "ZeldaOcarinaTime.toc", "track1.ogg",
      "track2.ogg"},
     two_tocs,
     ""},
    {"UnquotedFileNameWithBlanks",
     {{"my disc.bin", audio(400)},
      {"disc.cue", "FILE my disc.bin BINARY\n" + two_tracks},
      {"reference.cue", "FILE \"my disc.bin\" BINARY\n" + two_tracks}},
     "disc.cue", {}, "", "disc", two_files, two_tocs, "reference.cue"},
    // Sheets made on Windows: a folder's '\', a name in another letter case.
    {"BinInASubfolderByBackslash",
     {{"Bins/game.bin", audio(400)},
      {"disc.cue", "FILE \"Bins\\game.bin\" BINARY\n" + two_tracks},
      {"Bins/reference.cue", "FILE \"game.bin\" BINARY\n" + two_tracks}},
     "disc.cue", {}, "", "disc", two_files, two_tocs, "Bins/reference.cue"},
    {"BinInAnotherLetterCase",
     {{"GAME.BIN", audio(400)},
      {"disc.cue", "FILE \"C:\\rips\\game.bin\" BINARY\n" + two_tracks},
      {"reference.cue", "FILE \"GAME.BIN\" BINARY\n" + two_tracks}},
     "disc.cue", {}, "", "disc", two_files, two_tocs, "reference.cue"},
    {"BinInTwoOtherLetterCases",
     {{"GAME.BIN", audio(400)}, {"Game.bin", audio(400)}, {"disc.cue", "FILE \"game.bin\" BINARY\n" + two_tracks}},
     "disc.cue", {},
     "trackcarve: line 1: game.bin is not in {dir}/, and GAME.BIN and Game.bin match it but for letter case; "
     "rename the one the sheet means to game.bin\n",
     "", {}, {}, ""},
    // Notepad's "Unicode".
    {"SheetInUtf16",
     {{"disc.bin", audio(400)},
      {"disc.cue", utf16_with_mark("FILE \"disc.bin\" BINARY\r\n" + two_tracks)},
      {"reference.cue", "FILE \"disc.bin\" BINARY\n" + two_tracks}},
     "disc.cue", {}, "", "disc", two_files, two_tocs, "reference.cue"},
    // Audio before track 1's INDEX 01: track00, and track 1 where it was.
    {"HiddenTrackBeforeTrackOne",
     {{"disc.bin", audio(700)},
      {"disc.cue", "FILE \"disc.bin\" BINARY\nTRACK 01 AUDIO\nPREGAP 00:01:00\nINDEX 00 00:00:00\nINDEX 01 00:04:00\n"
                   "TRACK 02 AUDIO\nINDEX 01 00:06:00\n"}},
     "disc.cue", {"--flac"}, "", "disc",
     {".trackcarve-owner", ".trackcarve-record", "disc.cue", "disc.toc", "track00.flac", "track1.flac", "track2.flac"},
     {"Leadin", "Pregap: 00:01:00", "track00.flac 00:04:00", "track1.flac 00:02:00", "track2.flac 00:03:25",
      "Leadout"},
     "", 300},
    // LibCrypt data beside a PlayStation image, named after its BIN: a
    // header and one entry (a sector's address, 1, its Q subchannel), which
    // mednafen reads by the name of the sheet it loads.
    {"SubchannelDataBesideTheImage",
     {{"Game (USA).bin", patterned_sectors(0, 300)},
      {"Game (USA).SBI", std::string("SBI\0\x00\x03\x01\x01\x41\x01\x01\x07\x00\x03\x01\x01\x07\x00\x03\x01", 18)},
      {"disc.cue", "FILE \"Game (USA).bin\" BINARY\n  TRACK 01 MODE2/2352\n    INDEX 01 00:00:00\n"}},
     "disc.cue", {},
     "trackcarve: disc.sbi, the LibCrypt data of a PlayStation disc, goes beside disc.cue; PlayStation emulators "
     "run such a disc from raw data tracks only: split it with --raw-data\n",
     "disc", {".trackcarve-owner", ".trackcarve-record", "disc.cue", "disc.sbi", "disc.toc", "track1.iso"},
     {"Leadin", "track1.iso 00:04:00", "Leadout"}, "", 0, {"Game (USA).SBI", "disc.sbi"}},
    {"BinGivenForTheSheet",
     {{"disc.bin", audio(400)}},
     "disc.bin", {},
     "trackcarve: {dir}/disc.bin is not a CUE sheet: it looks like a BIN of raw CD sectors; give the .cue sheet "
     "that names it instead\n",
     "", {}, {}, ""},
};

class RealSheet : public testing::TestWithParam<sheet_row> {};

} // namespace

TEST_P(RealSheet, GivesTheSourcesDisc)
{
    const sheet_row& row = GetParam();
    const fs::path dir = scratch_dir();
    for (const auto& [name, bytes] : row.inputs) {
        fs::create_directories((dir / name).parent_path());
        write_file(dir / name, bytes);
    }
    const auto before = names_in(dir);
    std::vector<std::string> arguments = row.options;
    arguments.push_back((dir / row.sheet).string());
    const command_result run = run_tool(arguments);
    std::string err = row.err;
    for (std::size_t at; (at = err.find("{dir}")) != std::string::npos;)
        err.replace(at, 5, dir.string());
    EXPECT_EQ(run.err, err);
    EXPECT_EQ(run.exit_status, err.empty() ? 0 : 1);
    if (row.out_dir.empty()) {
        EXPECT_EQ(names_in(dir), before) << "the run made something";
        return;
    }
    const fs::path out = dir / row.out_dir;
    EXPECT_EQ(names_in(out), row.out_files);
    EXPECT_EQ(read_file(out / (row.out_dir + ".toc")), crlf_lines(row.toc));
    EXPECT_EQ(mednafen_lbas(out / (row.out_dir + ".cue")),
              mednafen_lbas(dir / (row.reference.empty() ? row.sheet : row.reference)));
    if (!row.copied.first.empty()) {
        EXPECT_TRUE(read_file(out / row.copied.second) == read_file(dir / row.copied.first)) << row.copied.second;
    }
    if (row.hidden_sectors > 0) {
        const command_result pcm = run_command({"/usr/bin/flac", "-d", "-s", "-c", "--force-raw-format",
                                                "--endian=little", "--sign=signed", (out / "track00.flac").string()});
        EXPECT_TRUE(pcm.out == row.inputs[0].second.substr(0, static_cast<std::size_t>(row.hidden_sectors) * 2352))
            << "track00.flac is not the audio before track 1";
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, RealSheet, testing::ValuesIn(sheet_rows),
                         [](const testing::TestParamInfo<sheet_row>& row) { return std::string(row.param.name); });

// An Enhanced CD: audio in session 1, and in session 2 a data track whose
// ISO 9660 file system genisoimage made for where that session begins. The
// emulator sheet keeps the session lines, and the .iso opens as the one
// stderr line says.
TEST(TwoSessionDisc, KeepsItsSessionsAndItsIsoOpensAsTold)
{
    const fs::path dir = scratch_dir();
    constexpr std::int64_t audio_sectors = 300;
    constexpr std::int64_t session_two = audio_sectors + 6750 + 4500 + 150;
    fs::create_directories(dir / "files");
    write_file(dir / "files" / "TWO.TXT", "in the second session\n");
    const command_result made =
        run_command({"/usr/bin/genisoimage", "-quiet", "-R", "-J", "-C", "0," + std::to_string(session_two), "-o",
                     (dir / "data.iso").string(), (dir / "files").string()});
    ASSERT_EQ(made.exit_status, 0) << made.err;
    const std::string iso = read_file(dir / "data.iso");
    std::string raw;
    for (std::size_t i = 0; i < iso.size() / 2048; ++i) {
        unsigned char sector[2352] = {};
        std::memcpy(sector + 16, iso.data() + i * 2048, 2048);
        encode_mode1_sector(sector, static_cast<std::int32_t>(session_two + static_cast<std::int64_t>(i)));
        raw.append(reinterpret_cast<const char*>(sector), sizeof sector);
    }
    write_file(dir / "disc (Track 1).bin", audio(audio_sectors));
    write_file(dir / "disc (Track 2).bin", raw);
    write_file(dir / "disc.cue", "REM SESSION 01\nFILE \"disc (Track 1).bin\" BINARY\n  TRACK 01 AUDIO\n"
                                 "    INDEX 01 00:00:00\nREM SESSION 02\nFILE \"disc (Track 2).bin\" BINARY\n"
                                 "  TRACK 02 MODE1/2352\n    INDEX 01 00:00:00\n");

    const command_result run = run_tool({(dir / "disc.cue").string()});
    EXPECT_EQ(run.err, "trackcarve: track2.iso is the data track of session 2: its ISO 9660 file system counts from "
                       "sector 11700 of the disc, not from the file's start; open it with 'isoinfo -N 11700 -i "
                       "track2.iso' or 'xorriso -displacement -11700 -indev track2.iso'\n");
    EXPECT_EQ(run.exit_status, 1);
    const fs::path out = dir / "disc";
    EXPECT_EQ(read_file(out / "disc.cue"),
              crlf_lines({"REM SOURCE \"disc.cue\"", "REM SESSION 01", "FILE \"track1.ogg\" OGG", "  TRACK 01 AUDIO",
                          "    INDEX 01 00:00:00", "REM SESSION 02", "FILE \"track2.iso\" BINARY",
                          "  TRACK 02 MODE1/2048", "    INDEX 01 00:00:00"}));
    EXPECT_EQ(mednafen_lbas(out / "disc.cue"), mednafen_lbas(dir / "disc.cue"));

    const command_result isoinfo =
        run_command({"/usr/bin/isoinfo", "-N", "11700", "-i", (out / "track2.iso").string(), "-x", "/TWO.TXT;1"});
    EXPECT_EQ(isoinfo.out, "in the second session\n") << isoinfo.err;
    const command_result xorriso =
        run_command({"/usr/bin/xorriso", "-displacement", "-11700", "-indev", (out / "track2.iso").string(),
                     "-osirrox", "on", "-extract", "/TWO.TXT", (dir / "two.txt").string()});
    EXPECT_EQ(read_file(dir / "two.txt"), "in the second session\n") << xorriso.err;
}

// CD-TEXT in the code page its sheet was written in: read in the one
// --text-encoding names; without it, as Windows-1252, and said once.
TEST(TextEncoding, TagsReadInTheEncodingGiven)
{
    const struct {
        const char* name;
        std::string album, title;   // as the sheet has them
        std::vector<std::string> options;
        std::string album_tag, title_tag, err;
    } rows[] = {
        {"cp1251", "\xC0\xEB\xFC\xE1\xEE\xEC", "\xD2\xF0\xE5\xEA", {"--text-encoding", "cp1251"}, "Альбом", "Трек", ""},
        {"shift_jis", "\x93\xFA\x96\x7B\x8C\xEA", "\x83\x67\x83\x89\x83\x62\x83\x4E", {"--text-encoding", "shift_jis"},
         "日本語", "トラック", ""},
        {"none", "\xC0\xEB\xFC\xE1\xEE\xEC", "\xD2\xF0\xE5\xEA", {}, "Àëüáîì", "Òðåê",
         "trackcarve: line 1: the sheet's CD-TEXT is not UTF-8 and is read as Windows-1252 for the tags; if they "
         "come out wrong, give its encoding with --text-encoding (cp1251, shift_jis, ...)\n"},
    };
    for (const auto& row : rows) {
        const fs::path dir = scratch_dir() / row.name;
        fs::create_directories(dir);
        write_file(dir / "disc.bin", audio(150));
        write_file(dir / "disc.cue", "TITLE \"" + row.album + "\"\nFILE \"disc.bin\" BINARY\n  TRACK 01 AUDIO\n" +
                                         "    TITLE \"" + row.title + "\"\n    INDEX 01 00:00:00\n");
        std::vector<std::string> arguments = row.options;
        arguments.push_back((dir / "disc.cue").string());
        const command_result run = run_tool(arguments);
        EXPECT_EQ(run.err, row.err) << row.name;
        const std::vector<std::string> tags = decode_ogg(dir / "disc" / "track1.ogg").comments;
        EXPECT_EQ(tags, (std::vector<std::string>{"ENCODER=encoder_example", "TRACKNUMBER=1", "TRACKTOTAL=1",
                                                  "ALBUM=" + row.album_tag, "TITLE=" + row.title_tag}))
            << row.name;
    }
    EXPECT_EQ(run_tool({"--text-encoding", "no-such-code", "disc.cue"}).exit_status, 2);
}

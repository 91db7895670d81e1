// Bad input, end to end: whatever the sheet, the BIN, the paths and the disk
// do, the run ends in time with the console text and exit status below, says
// on standard error what it lost, and writes nothing outside its output
// directory (cue_dir + out_name).
#include "support.h"

#include <gtest/gtest.h>

#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <future>
#include <map>
#include <numbers>
#include <string>
#include <thread>
#include <vector>

using namespace std::string_literals;
using namespace std::chrono_literals;

namespace {

// Every run may write this much; a run that pads without end hits it.
constexpr rlim_t default_file_size_limit = 256 << 20;

// The disc most rows start from: 10 data sectors, then 20 audio sectors.
const std::string small_sheet = small_disc_sheet();

fs::path write_disc(const fs::path& dir, const std::string& sheet, const std::string& cue_name = "disc.cue",
                    std::int64_t bin_sectors = 30)
{
    write_file(dir / "disc.bin", patterned_sectors(0, bin_sectors));
    write_file(dir / cue_name, sheet);
    return dir / cue_name;
}

std::string error_console(const std::string& cue_name, const std::string& error)
{
    return "Open file " + cue_name + "\n\n" + error + "\n";
}

// The line for a BIN that did not open, in the scratch folder beside the sheet.
std::string bin_unopened(int line, const std::string& name, const std::string& reason, const std::string& hint = "")
{
    return "trackcarve: line " + std::to_string(line) + ": cannot open the BIN {dir}/" + name + " (" + reason + ")" +
           hint + "; put the BIN beside the sheet, in {dir}/, or correct the FILE line's name\n";
}

std::string replace_all(std::string text, const std::string& from, const std::string& to)
{
    for (std::size_t p = text.find(from); p != std::string::npos; p = text.find(from, p + to.size()))
        text.replace(p, from.size(), to);
    return text;
}

void drop_root_privileges()
{
    if (geteuid() != 0)
        return;
    constexpr gid_t nogroup = 65534;
    constexpr uid_t nobody = 65534;
    if (setgroups(0, nullptr) != 0 || setgid(nogroup) != 0 || setuid(nobody) != 0)
        _exit(125);
}

void limit_file_size(rlim_t bytes)
{
    const rlimit limit{bytes, bytes};
    setrlimit(RLIMIT_FSIZE, &limit);
}

// What a row's setup hands to the run.
struct prepared_run {
    explicit prepared_run(fs::path argument, fs::path directory = {})
        : cue(std::move(argument)), cwd(std::move(directory))
    {
    }
    fs::path cue;                          // the argument
    fs::path cwd;                          // empty: the test's own
    std::function<void()> in_child;        // after the watchdog and the default limits
    std::function<void()> after;           // undoes what would stop the scratch folder's removal
    std::string staging_failure;               // non-empty: this system cannot stage the row
    fs::path unchanged;                    // a folder the run must leave byte for byte as it was
    // A run of a twin sheet started rival_lead before this one; whichever
    // takes the folder first is the winner, and its files are checked.
    std::vector<std::string> rival;
    std::chrono::milliseconds rival_lead{0};
    std::function<void(const std::string& winner)> check_winner;
};

// Standard error: exactly this text, or one or more lines that each start
// with "trackcarve: " (a loss the console dialogue has no words for).
struct expected_stderr {
    bool problem_lines = false;
    std::string text;
};
const expected_stderr quiet{false, ""};
const expected_stderr reported{true, ""};
expected_stderr exactly(std::string text) { return {false, std::move(text)}; }

struct hostile_row {
    std::string name;
    std::function<prepared_run(const fs::path& dir)> setup;
    std::string out;   // standard output; here and in err, "{dir}" stands for the scratch folder
    int exit_status;
    expected_stderr err;
};

std::string garbage(std::size_t size, std::uint64_t seed)
{
    std::string bytes(size, '\0');
    for (char& c : bytes) {
        seed = seed * 6364136223846793005u + 1442695040888963407u;
        c = static_cast<char>(seed >> 56);
    }
    return bytes;
}

// A relative directory path of exactly `length` bytes, trailing '/' included,
// in components a file system accepts.
std::string directory_prefix_of_length(std::size_t length)
{
    std::string prefix;
    while (prefix.size() < length) {
        const std::size_t component = std::min<std::size_t>(length - prefix.size() - 1, 200);
        prefix += std::string(component, 'p') + "/";
    }
    return prefix;
}

std::string refused_console(const std::string& cue_name, const std::string& out_name)
{
    return "Open file " + cue_name + "\n\nCreating directory: " + out_name + "\n\n";
}

std::string refusal(const std::string& out_dir, const std::string& owner)
{
    return "trackcarve: " + out_dir + " holds the tracks of another sheet, \"" + owner +
           "\"; nothing was overwritten (-o DIR or --full-names gives this sheet a folder of its own)\n";
}

// The first sheet split, then a second sheet whose name gives its folder.
prepared_run second_sheet(const fs::path& dir, const std::string& first, const std::string& second,
                          const std::string& out_name)
{
    prepared_run run{dir / second};
    if (run_tool({write_disc(dir, small_sheet, first)}).exit_status != 0)
        run.staging_failure = "the first sheet's run failed";
    write_disc(dir, small_sheet, second);
    run.unchanged = dir / out_name;
    return run;
}

// Twin sheets of one folder, game.cue and game.v2.cue: a data track, then
// minutes of audio (seconds of encoding), the lengths telling them apart.
struct twin_disc {
    std::string sheet;
    std::int64_t data_sectors;
    std::int64_t audio_sectors;
    std::string toc;
};
const twin_disc twin_discs[] = {
    {"game.cue", 10, 120 * 75, "Leadin\r\ntrack1.iso 00:00:10\r\ntrack2.ogg 02:00:00\r\nLeadout\r\n"},
    {"game.v2.cue", 20, 100 * 75, "Leadin\r\ntrack1.iso 00:00:20\r\ntrack2.ogg 01:40:00\r\nLeadout\r\n"},
};

// Both twins, the run of game.v2.cue, and the check that the folder holds
// the winner's files alone.
prepared_run write_twins(const fs::path& dir)
{
    for (const twin_disc& twin : twin_discs) {
        const std::string bin = twin.sheet.substr(0, twin.sheet.size() - 3) + "bin";
        write_file(dir / bin, patterned_sectors(twin.data_sectors * 7, twin.data_sectors + twin.audio_sectors));
        write_file(dir / twin.sheet, "FILE \"" + bin + "\" BINARY\nTRACK 01 MODE1/2352\nINDEX 01 00:00:00\n"
                                     "TRACK 02 AUDIO\nINDEX 01 00:00:" + std::to_string(twin.data_sectors) + "\n");
    }
    prepared_run run{dir / "game.v2.cue"};
    run.check_winner = [out = dir / "game"](const std::string& winner) {
        const twin_disc& twin = twin_discs[winner == "game.cue" ? 0 : 1];
        EXPECT_EQ(read_file(out / ".trackcarve-owner"), winner);
        EXPECT_EQ(read_file(out / "game.cue").substr(0, 15 + winner.size()), "REM SOURCE \"" + winner + "\"\r\n");
        EXPECT_EQ(read_file(out / "game.toc"), twin.toc);
        EXPECT_EQ(fs::file_size(out / "track1.iso"), static_cast<std::uintmax_t>(twin.data_sectors * 2048));
        EXPECT_EQ(decode_ogg(out / "track2.ogg").pcm_total, twin.audio_sectors * 588);
        EXPECT_EQ(std::distance(fs::directory_iterator(out), fs::directory_iterator{}), 6);
    };
    return run;
}

prepared_run overlapping_twins(const fs::path& dir, std::chrono::milliseconds lead)
{
    prepared_run run = write_twins(dir);
    run.rival = {TRACKCARVE_EXE, (dir / "game.cue").string()};
    run.rival_lead = lead;
    return run;
}

const std::vector<hostile_row> hostile_rows = {
    // ---- the sheet's bytes
    {"LineOf10MB",
     [](const fs::path& dir) {
         return prepared_run{write_disc(dir, "REM " + std::string(10 << 20, 'x') + "\n" + small_sheet)};
     },
     full_console("disc.cue", "disc"), 0, quiet},
    {"FileNameOf10MB",
     [](const fs::path& dir) {
         return prepared_run{write_disc(dir, "FILE \"" + std::string(10 << 20, 'n') + "\" BINARY\n" + small_sheet)};
     },
     error_console("disc.cue", "Error!! line 1 CMD: FILE"), 1,
     exactly("trackcarve: line 1: a FILE line is FILE \"NAME\" BINARY, its name at most 1023 bytes; this one is "
             "FILE '\"" + std::string(36, 'n') + "...'\n")},
    {"NulBytesEndALinesText",
     [](const fs::path& dir) {
         return prepared_run{write_disc(dir, "FILE \"disc.bin\" BINARY\0 TRACK 99 AUDIO\n"
                                             "  TRACK 01 MODE1/2352\n\0\0\0\n    INDEX 01 00:00:00\n"
                                             "  TRACK 02 AUDIO\0\n    INDEX 01 00:00:10\0PREGAP x\n"s)};
     },
     full_console("disc.cue", "disc"), 0, quiet},
    {"NulByteInsideTheFileName",
     [](const fs::path& dir) {
         return prepared_run{write_disc(dir, "FILE \"disc\0.bin\" BINARY\n"s + small_sheet)};
     },
     error_console("disc.cue", "Error!! line 1 CMD: FILE"), 1,
     exactly("trackcarve: line 1: a FILE line is FILE \"NAME\" BINARY, its name at most 1023 bytes; this one is "
             "FILE '\"disc'\n")},
    {"FileOfAnotherType",
     [](const fs::path& dir) { return prepared_run{write_disc(dir, replace_all(small_sheet, "BINARY", "XYZ"))}; },
     error_console("disc.cue", "Error!! line 1 CMD: FILE is not BINARY form"), 1,
     exactly("trackcarve: line 1: the FILE type is 'XYZ'; the types read are BINARY, MOTOROLA, WAVE and FLAC: "
             "convert disc.bin to one of them and write its type on this line\n")},
    {"BinaryGarbageBeforeTheSheet",
     [](const fs::path& dir) { return prepared_run{write_disc(dir, garbage(1 << 16, 1234) + "\n" + small_sheet)}; },
     full_console("disc.cue", "disc"), 0, quiet},
    {"BinaryGarbageOnly",
     [](const fs::path& dir) { return prepared_run{write_disc(dir, garbage(1 << 16, 99))}; },
     "Open file disc.cue\n\n", 1,
     exactly("trackcarve: {dir}/disc.cue is not a CUE sheet: it holds binary data; give the .cue sheet of the image "
             "instead\n")},
    {"CarriageReturnLineEnds",
     [](const fs::path& dir) { return prepared_run{write_disc(dir, replace_all(small_sheet, "\n", "\r"))}; },
     full_console("disc.cue", "disc"), 0, quiet},
    {"TrackNumber257",
     [](const fs::path& dir) {
         return prepared_run{write_disc(dir, "FILE \"disc.bin\" BINARY\nTRACK 257 MODE1/2352\nINDEX 01 00:00:00\n")};
     },
     error_console("disc.cue", "Error!! line 2 Invalid Track"), 1,
     exactly("trackcarve: line 2: TRACK '257 MODE1/2352': a track's number is 1 to 99, then its mode\n")},
    {"TrackNumber4294967297",
     [](const fs::path& dir) {
         return prepared_run{write_disc(dir, "FILE \"disc.bin\" BINARY\nTRACK 4294967297 AUDIO\nINDEX 01 00:00:00\n")};
     },
     error_console("disc.cue", "Error!! line 2 Invalid Track"), 1,
     exactly("trackcarve: line 2: TRACK '4294967297 AUDIO': a track's number is 1 to 99, then its mode\n")},
    {"IndexWithoutItsFrames",
     [](const fs::path& dir) { return prepared_run{write_disc(dir, replace_all(small_sheet, "00:00:10", "00:10"))}; },
     error_console("disc.cue", "Error!! line 5 Invalid Track Index"), 1,
     exactly("trackcarve: line 5: INDEX '01 00:10': an INDEX line is INDEX 01 mm:ss:ff\n")},
    {"PregapInSectors",
     [](const fs::path& dir) { return prepared_run{write_disc(dir, small_sheet + "PREGAP 150\n")}; },
     error_console("disc.cue", "Error!! line 6 Invalid Track Pregap"), 1,
     exactly("trackcarve: line 6: PREGAP '150': a PREGAP line is PREGAP mm:ss:ff\n")},
    // 4294967295:4294967295:4294967295 wraps to -4576 frames: track 1 comes
    // out with a negative length and track 2 starts before the BIN.
    {"TimesWithPartsOf4294967295",
     [](const fs::path& dir) {
         return prepared_run{write_disc(dir, "FILE \"disc.bin\" BINARY\n"
                                             "TRACK 01 MODE1/2352\nPREGAP 4294967295:4294967295:4294967295\n"
                                             "INDEX 01 00:00:00\n"
                                             "TRACK 02 AUDIO\nINDEX 01 4294967295:4294967295:4294967295\n")};
     },
     full_console("disc.cue", "disc"), 1, reported},
    // Each FILE line opens its own file; the run stops at the first missing one.
    {"SecondFileMissing",
     [](const fs::path& dir) { return prepared_run{write_disc(dir, small_sheet + "FILE \"gone.bin\" BINARY\n")}; },
     error_console("disc.cue", "Error!! line 6 CMD: FILE Open fail"), 1,
     exactly(bin_unopened(6, "gone.bin", "No such file or directory"))},
    {"TracksRunningBackwards",
     [](const fs::path& dir) {
         return prepared_run{write_disc(dir, "FILE \"disc.bin\" BINARY\nTRACK 1 AUDIO\nINDEX 01 00:00:00\n"
                                             "TRACK 2 AUDIO\nINDEX 01 00:00:20\nTRACK 3 AUDIO\nINDEX 01 00:00:05\n")};
     },
     full_console("disc.cue", "disc", {"track1.ogg", "track2.ogg", "track3.ogg"}), 1,
     exactly("trackcarve: track 2: length of -15 sectors; the next track's INDEX does not lie far enough "
             "after this one's\n"
             "trackcarve: disc.cue not written: track2.ogg holds no sector\n")},
    // Lines the reader cannot honour: each is reported, and the run goes on
    // as it would without them.
    // Every sector is read as 2352 bytes, so a 2336-byte image comes out wrong.
    {"Mode2Of2336Bytes",
     [](const fs::path& dir) {
         return prepared_run{
             write_disc(dir, "FILE \"disc.bin\" BINARY\n  TRACK 01 MODE2/2336\n    INDEX 01 00:00:00\n")};
     },
     full_console("disc.cue", "disc", {"track1.iso"}), 1,
     exactly("trackcarve: line 2: track 1 is MODE2/2336, read as if its sectors were MODE2/2352; its data will be "
             "wrong\n")},
    // Told when its TRACK line is read, so a later malformed line does not hide it.
    {"Mode2Of2336BytesBeforeAMalformedLine",
     [](const fs::path& dir) {
         return prepared_run{write_disc(dir, "FILE \"disc.bin\" BINARY\n  TRACK 01 MODE2/2336\n    INDEX 01 00:00:00\n"
                                             "  TRACK 02 CDG\n")};
     },
     error_console("disc.cue", "Error!! line 4 Invalid Track"), 1,
     exactly("trackcarve: line 2: track 1 is MODE2/2336, read as if its sectors were MODE2/2352; its data will be "
             "wrong\n"
             "trackcarve: line 4: the track mode is 'CDG'; the modes read are AUDIO, MODE1/2352, MODE1/2048 and "
             "MODE2/2352\n")},
    // Placed at 00:00:00, track 2 leaves track 1 no sector at all.
    {"TrackWithoutIndex",
     [](const fs::path& dir) {
         return prepared_run{write_disc(dir, "FILE \"disc.bin\" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n"
                                             "  TRACK 02 AUDIO\n    INDEX 00 00:00:08\n")};
     },
     full_console("disc.cue", "disc"), 1,
     exactly("trackcarve: line 4: track 2 has no INDEX 01; it is placed at 00:00:00\n"
             "trackcarve: disc.cue not written: track1.iso holds no sector\n")},
    // One file per track: INDEX 01 00:00:00 is the start of the track's own file.
    {"IndexAtTheStartOfTheTracksOwnFile",
     [](const fs::path& dir) {
         write_file(dir / "two.bin", patterned_sectors(0, 20));
         return prepared_run{write_disc(dir, "FILE \"disc.bin\" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n"
                                             "FILE \"two.bin\" BINARY\n  TRACK 02 AUDIO\n    INDEX 01 00:00:00\n")};
     },
     full_console("disc.cue", "disc"), 0, quiet},
    {"IndexAndPregapBeforeTheFirstTrack",
     [](const fs::path& dir) {
         return prepared_run{write_disc(dir, "FILE \"disc.bin\" BINARY\nINDEX 01 00:00:05\nPREGAP 00:02:00\n" +
                                                 small_sheet.substr(small_sheet.find('\n') + 1))};
     },
     full_console("disc.cue", "disc"), 1,
     exactly("trackcarve: line 2: INDEX before the first TRACK is ignored\n"
             "trackcarve: line 3: PREGAP before the first TRACK is ignored\n")},
    // The sheet puts track 2 some 2^31 sectors in, so track 1 is padded out
    // to terabytes of zeros; on a disk that fills up (a 64 MB file size
    // limit here) the copy must stop at the first failed write.
    {"TrackFarPastTheEndOfTheBinOnASmallDisk",
     [](const fs::path& dir) {
         prepared_run run{write_disc(dir, "FILE \"disc.bin\" BINARY\nTRACK 01 MODE1/2352\nINDEX 01 00:00:00\n"
                                          "TRACK 02 AUDIO\nINDEX 01 477000:00:00\n")};
         run.in_child = [] { limit_file_size(64 << 20); };
         return run;
     },
     full_console("disc.cue", "disc"), 1, reported},

    // ---- the BIN
    {"BinIsADirectory",
     [](const fs::path& dir) {
         fs::create_directory(dir / "folder.bin");
         return prepared_run{write_disc(dir, replace_all(small_sheet, "disc.bin", "folder.bin"))};
     },
     error_console("disc.cue", "Error!! line 1 CMD: FILE Open fail"), 1,
     exactly(bin_unopened(1, "folder.bin", "it is a folder"))},
    // Beside the sheet a name in another case is taken; in the folder the
    // FILE line names, it is only pointed at.
    {"BinInAnotherCaseInItsFolder",
     [](const fs::path& dir) {
         fs::create_directory(dir / "sub");
         write_file(dir / "sub" / "Game.bin", "");
         return prepared_run{write_disc(dir, replace_all(small_sheet, "disc.bin", "sub/game.bin"))};
     },
     error_console("disc.cue", "Error!! line 1 CMD: FILE Open fail"), 1,
     exactly(bin_unopened(1, "sub/game.bin", "No such file or directory",
                          ", nor {dir}/game.bin (No such file or directory); {dir}/sub/Game.bin differs only in "
                          "letter case: rename it to game.bin"))},
    // chmod 000 does not stop root from reading, so the run drops to nobody.
    {"BinIsUnreadable",
     [](const fs::path& dir) {
         prepared_run run{write_disc(dir, small_sheet)};
         fs::permissions(dir / "disc.bin", fs::perms::none);
         run.in_child = drop_root_privileges;
         return run;
     },
     error_console("disc.cue", "Error!! line 1 CMD: FILE Open fail"), 1,
     exactly(bin_unopened(1, "disc.bin", "Permission denied"))},
    // Opening a FIFO for reading would wait for a writer that never comes.
    {"BinIsAFifo",
     [](const fs::path& dir) {
         prepared_run run{write_disc(dir, replace_all(small_sheet, "disc.bin", "pipe.bin"))};
         if (mkfifo((dir / "pipe.bin").c_str(), 0600) != 0)
             run.staging_failure = "mkfifo failed";
         return run;
     },
     error_console("disc.cue", "Error!! line 1 CMD: FILE Open fail"), 1,
     exactly(bin_unopened(1, "pipe.bin", "it is not a regular file"))},
    {"BinInAFolderBelowTheSheet",
     [](const fs::path& dir) {
         fs::create_directory(dir / "other");
         write_file(dir / "other" / "elsewhere.bin", patterned_sectors(0, 30));
         return prepared_run{write_disc(dir, replace_all(small_sheet, "disc.bin", "other/elsewhere.bin"))};
     },
     full_console("disc.cue", "disc"), 0, quiet},
    // Track 1 wants 20 sectors; the BIN stops half-way into its 16th, whose
    // bytes track 1 takes. Track 2, the last, then has no sector at all and
    // gets the 32-sector default.
    {"BinTruncatedMidSectorMidTrack",
     [](const fs::path& dir) {
         prepared_run run{write_disc(dir, replace_all(small_sheet, "00:00:10", "00:00:20"))};
         write_file(dir / "disc.bin", patterned_sectors(0, 16).substr(0, 15 * 2352 + 1176));
         return run;
     },
     full_console("disc.cue", "disc"), 1,
     exactly("trackcarve: the BIN ends in 1176 bytes of an incomplete sector, which track1.iso takes\n"
             "trackcarve: track1.iso: the BIN ends 5 sectors before the end of the track; padded with zeros\n"
             "trackcarve: track2.ogg: the BIN ends 18816 audio frames before the end of the track; the stream "
             "stops there\n"
             "trackcarve: disc.cue not written: track1.iso was padded or cut where the BIN ended\n")},
    // The last track runs to the end of the BIN, which stops half-way into a
    // sector: those 1176 bytes (294 stereo frames) are lost.
    {"BinTruncatedMidSectorInTheLastTrack",
     [](const fs::path& dir) {
         prepared_run run{write_disc(dir, small_sheet)};
         write_file(dir / "disc.bin", patterned_sectors(0, 26).substr(0, 25 * 2352 + 1176));
         return run;
     },
     full_console("disc.cue", "disc"), 1,
     exactly("trackcarve: the BIN ends in 1176 bytes of an incomplete sector, which no track takes\n")},

    // ---- the paths
    {"CuePathOf2000Bytes",
     [](const fs::path& dir) {
         const std::string prefix = directory_prefix_of_length(2000 - 8);
         fs::create_directories(dir / prefix);
         write_disc(dir / prefix, small_sheet);
         return prepared_run{prefix + "disc.cue", dir};
     },
     "Error!! path too long\n", 1,
     exactly("trackcarve: " + directory_prefix_of_length(2000 - 8) +
             "disc.cue: the sheet's folder is too long a path for the files the run reads and writes there (each "
             "at most 1023 bytes); move the sheet and its BINs to a shorter path\n")},
    // The longest directory prefix that leaves room for the longest output
    // path, "<25 letters>/<25 letters>.toc", in a path buffer.
    {"CuePathOfTheLongestAcceptedPrefix",
     [](const fs::path& dir) {
         const std::string prefix = directory_prefix_of_length(path_capacity - 1 - (2 * out_name_limit + 5));
         fs::create_directories(dir / prefix);
         write_disc(dir / prefix, small_sheet, "ABCDEFGHIJKLMNOPQRSTUVWXYZ.cue");
         return prepared_run{prefix + "ABCDEFGHIJKLMNOPQRSTUVWXYZ.cue", dir};
     },
     full_console("ABCDEFGHIJKLMNOPQRSTUVWXYZ.cue", "ABCDEFGHIJKLMNOPQRSTUVWXY"), 0, quiet},
    {"CueSheetIsAFifo",
     [](const fs::path& dir) {
         prepared_run run{dir / "disc.cue"};
         if (mkfifo(run.cue.c_str(), 0600) != 0)
             run.staging_failure = "mkfifo failed";
         return run;
     },
     error_console("disc.cue", "Error abriendo CUE"), 1,
     exactly("trackcarve: cannot open the sheet {dir}/disc.cue: it is not a regular file\n")},
    {"SheetMissing", [](const fs::path& dir) { return prepared_run{dir / "gone.cue"}; },
     error_console("gone.cue", "Error abriendo CUE"), 1,
     exactly("trackcarve: cannot open the sheet {dir}/gone.cue: No such file or directory\n")},
    {"FolderForASheet",
     [](const fs::path& dir) {
         fs::create_directory(dir / "discs");
         write_disc(dir / "discs", small_sheet, "b.cue");
         write_disc(dir / "discs", small_sheet, "a.CUE");
         return prepared_run{dir / "discs"};
     },
     error_console("discs", "Error abriendo CUE"), 1,
     exactly("trackcarve: cannot open the sheet {dir}/discs: it is a folder; name a CUE sheet in it: a.CUE, b.cue\n")},
    // chmod does not stop root from writing, so the run drops to nobody.
    {"SheetFolderIsReadOnly",
     [](const fs::path& dir) {
         prepared_run run{write_disc(dir, small_sheet)};
         fs::permissions(dir, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                         fs::perm_options::remove);
         run.in_child = drop_root_privileges;
         run.after = [dir] { fs::permissions(dir, fs::perms::owner_write, fs::perm_options::add); };
         return run;
     },
     console_up_to_toc("disc.cue", "disc") + "Error creando TOC\n", 1,
     exactly("trackcarve: cannot create the folder {dir}/disc: Permission denied; give a folder you can write to with "
             "-o DIR\n")},
    // x/game.cue and y/game.cue are two discs; y's folder leads to x's.
    {"OutputFolderIsALinkToAnotherDiscsFolder",
     [](const fs::path& dir) {
         fs::create_directories(dir / "x");
         fs::create_directories(dir / "y");
         prepared_run run{write_disc(dir / "y", replace_all(small_sheet, "00:00:10", "00:00:20"), "game.cue")};
         if (run_tool({write_disc(dir / "x", small_sheet, "game.cue")}).exit_status != 0)
             run.staging_failure = "x/game.cue's run failed";
         fs::create_directory_symlink("../x/game", dir / "y" / "game");
         run.unchanged = dir / "x" / "game";
         return run;
     },
     refused_console("game.cue", "game"), 1,
     exactly("trackcarve: {dir}/y/game is a symbolic link; nothing was written through it (-o DIR or --full-names "
             "gives this sheet a folder of its own)\n")},
    {"OutputDirectoryNameTakenByAFile",
     [](const fs::path& dir) {
         prepared_run run{write_disc(dir, small_sheet)};
         write_file(dir / "disc", "not a directory");
         return run;
     },
     console_up_to_toc("disc.cue", "disc") + "Error creando TOC\n", 1,
     exactly("trackcarve: cannot create the folder {dir}/disc: a file has that name; move the file, or give a folder "
             "you can write to with -o DIR\n")},
    {"TrackFileNameTakenByADirectory",
     [](const fs::path& dir) {
         prepared_run run{write_disc(dir, small_sheet)};
         fs::create_directories(dir / "disc" / "track1.iso");
         return run;
     },
     full_console("disc.cue", "disc"), 1,
     exactly("trackcarve: cannot create {dir}/disc/track1.iso: Is a directory\n"
             "trackcarve: disc.cue not written: track1.iso could not be written\n")},
    // As root, chmod does not stop writes; the immutable attribute does.
    {"ReadOnlyExistingTrackFile",
     [](const fs::path& dir) {
         prepared_run run{write_disc(dir, small_sheet)};
         const fs::path track = dir / "disc" / "track2.ogg";
         fs::create_directory(dir / "disc");
         write_file(track, "an earlier run's file");
         fs::permissions(track, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
         if (geteuid() == 0) {
             if (run_command({"/usr/bin/chattr", "+i", track.string()}).exit_status != 0)
                 run.staging_failure = "chattr +i is not supported here (file system or capabilities)";
             run.after = [track] { run_command({"/usr/bin/chattr", "-i", track.string()}); };
         }
         return run;
     },
     full_console("disc.cue", "disc"), 1,
     exactly(std::string("trackcarve: cannot replace {dir}/disc/track2.ogg: ") +
             (geteuid() == 0 ? "Operation not permitted" : "Permission denied") + "\n" +
             "trackcarve: disc.cue not written: track2.ogg could not be written\n")},

    // ---- the disk
    // 10000 bytes hold the TOC and the console text but not track1.iso.
    {"DiskFull",
     [](const fs::path& dir) {
         prepared_run run{write_disc(dir, small_sheet)};
         run.in_child = [] { limit_file_size(10000); };
         return run;
     },
     full_console("disc.cue", "disc"), 1,
     exactly("trackcarve: cannot write {dir}/disc/track1.iso: File too large\n"
             "trackcarve: disc.cue not written: track1.iso could not be written\n")},
    // The console text itself is lost: only the exit status and standard
    // error can say so.
    {"StandardOutputOnAFullDevice",
     [](const fs::path& dir) {
         prepared_run run{write_disc(dir, small_sheet)};
         run.in_child = [] {
             if (std::freopen("/dev/full", "w", stdout) == nullptr)
                 _exit(125);
         };
         return run;
     },
     "", 1, exactly("trackcarve: cannot write to standard output: No space left on device\n")},

    // ---- two sheets whose names give one folder
    // Names apart only in a byte below 32, which REM SOURCE gives as '?'.
    {"TwinSheetNamedWithATabAfterOneWithANewline",
     [](const fs::path& dir) { return second_sheet(dir, "c\nd.cue", "c\td.cue", "cd"); },
     refused_console("c\td.cue", "cd"), 1, exactly(refusal("{dir}/cd", "c?d.cue"))},
    {"TwinSheetNamedWithANewlineAfterOneWithAQuestionMark",
     [](const fs::path& dir) { return second_sheet(dir, "c?d.cue", "c\nd.cue", "cd"); },
     refused_console("c\nd.cue", "cd"), 1, exactly(refusal("{dir}/cd", "c?d.cue"))},
    // Interrupted once track1.iso is in place: the TOC and a track, no emulator sheet.
    {"TwinSheetAfterAnInterruptedRun",
     [](const fs::path& dir) {
         prepared_run run = write_twins(dir);
         const std::string first_track = (dir / "game" / "track1.iso").string();
         run_command({TRACKCARVE_EXE, "-j", "2", (dir / "game.cue").string()}, {}, [&first_track] {
             std::signal(SIGINT, SIG_DFL);
             const pid_t runner = getpid();
             if (fork() != 0)
                 return;
             for (int wait = 0; wait < 2000 && access(first_track.c_str(), F_OK) != 0; ++wait)
                 usleep(10000);
             kill(runner, SIGINT);
             _exit(0);
         });
         if (!fs::exists(dir / "game" / "game.toc") || fs::exists(dir / "game" / "game.cue"))
             run.staging_failure = "the run was not interrupted between its TOC and its emulator sheet";
         run.unchanged = dir / "game";
         return run;
     },
     refused_console("game.v2.cue", "game"), 1, exactly(refusal("{dir}/game", "game.cue"))},
    // Started together or apart, either may take the folder first; the other waits, then is refused.
    {"TwinSheetsStartedTogether", [](const fs::path& dir) { return overlapping_twins(dir, 0ms); },
     refused_console("{loser}", "game"), 1, exactly(refusal("{dir}/game", "{winner}"))},
    {"TwinSheetsStarted200msApart", [](const fs::path& dir) { return overlapping_twins(dir, 200ms); },
     refused_console("{loser}", "game"), 1, exactly(refusal("{dir}/game", "{winner}"))},
    {"TwinSheetsStarted1sApart", [](const fs::path& dir) { return overlapping_twins(dir, 1000ms); },
     refused_console("{loser}", "game"), 1, exactly(refusal("{dir}/game", "{winner}"))},
};

void PrintTo(const hostile_row& row, std::ostream* out) { *out << row.name; }

class HostileInput : public testing::TestWithParam<hostile_row> {
protected:
    void TearDown() override
    {
        if (after)
            after();
    }
    std::function<void()> after;
};

} // namespace

TEST_P(HostileInput, EndsWithItsConsoleTextAndExitStatus)
{
    const hostile_row& row = GetParam();
    const fs::path dir = scratch_dir();
    const prepared_run run = row.setup(dir);
    after = run.after;
    // A row this machine cannot stage is a failure: it would hide a fault.
    ASSERT_TRUE(run.staging_failure.empty()) << "cannot stage the row: " << run.staging_failure;

    const auto in_child = [&run] {
        std::signal(SIGXFSZ, SIG_IGN);
        limit_file_size(default_file_size_limit);
        start_watchdog();
        if (run.in_child)
            run.in_child();
    };
    const auto before = run.unchanged.empty() ? std::map<std::string, std::string>{} : snapshot(run.unchanged);
    std::future<command_result> rival;
    if (!run.rival.empty()) {
        rival = std::async(std::launch::async, [&run, &in_child] { return run_command(run.rival, run.cwd, in_child); });
        std::this_thread::sleep_for(run.rival_lead);
    }
    command_result r = run_command({TRACKCARVE_EXE, run.cue.string()}, run.cwd, in_child);
    std::string names[2] = {run.cue.filename().string()};   // the refused run's sheet, the winner's
    if (rival.valid()) {
        command_result other = rival.get();
        names[1] = fs::path(run.rival.back()).filename().string();
        if (r.exit_status == 0) {
            std::swap(r, other);
            std::swap(names[0], names[1]);
        }
        EXPECT_EQ(other.exit_status, 0) << other.err;
        run.check_winner(names[1]);
    }
    if (!run.unchanged.empty()) {
        EXPECT_EQ(snapshot(run.unchanged), before) << "the run changed " << run.unchanged;
    }
    const auto expanded = [&](const std::string& text) {
        return replace_all(replace_all(replace_all(text, "{dir}", dir.string()), "{loser}", names[0]), "{winner}",
                           names[1]);
    };
    // Kept in the XML report (--gtest_output=xml), to see what each row gave.
    RecordProperty("exit_status", r.exit_status);
    RecordProperty("stdout", r.out);
    RecordProperty("stderr", r.err);
    ASSERT_NE(r.exit_status, -1) << "killed: no end within " << watchdog_seconds << " s\n" << r.out << r.err;
    EXPECT_EQ(r.out, expanded(row.out));
    EXPECT_EQ(r.exit_status, row.exit_status);
    if (row.err.problem_lines) {
        EXPECT_FALSE(r.err.empty()) << "a loss that standard error does not mention";
        for (std::size_t p = 0; p < r.err.size(); p = r.err.find('\n', p) + 1) {
            EXPECT_EQ(r.err.compare(p, 12, "trackcarve: "), 0) << r.err;
            ASSERT_NE(r.err.find('\n', p), std::string::npos) << r.err;
        }
    } else {
        EXPECT_EQ(r.err, expanded(row.err.text));
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, HostileInput, testing::ValuesIn(hostile_rows),
                         [](const testing::TestParamInfo<hostile_row>& row) { return row.param.name; });

// ---------------------------------------------------------------------------
// Where the run writes. The scratch tree holds the sheet's folder, decoy BINs
// wherever a FILE line could point, and nothing else; after the run, every
// new or changed path lies inside cue_dir + out_name, and the data track came
// from the BIN beside the sheet.

namespace {

struct confinement_case {
    std::string name;
    std::string sheet_name;   // in sheets/
    std::string file_name;    // as the FILE line has it
    std::string bin_beside;   // where the BIN is looked for, relative to sheets/; empty: nowhere
    std::string out_dir;      // relative to sheets/
    bool relative_argument;   // run from sheets/ with the bare sheet name
};

const std::vector<confinement_case> confinement_cases = {
    {"ParentDirectoryBin", "disc.cue", "../x.bin", "x.bin", "disc", false},
    {"AbsoluteBin", "disc.cue", "/tmp/decoy/abs.bin", "abs.bin", "disc", false},
    {"DriveLetterBin", "disc.cue", "C:\\rips\\win.bin", "win.bin", "disc", false},
    {"BackslashesUp", "disc.cue", "..\\..\\up.bin", "up.bin", "disc", false},
    {"DotDotThroughASubfolder", "disc.cue", "sub/../y.bin", "y.bin", "disc", false},
    {"BinNamedDirDotDot", "disc.cue", "dir/..", "", "disc", false},
    {"BinNamedDot", "disc.cue", ".", "", "disc", false},
    {"SystemFile", "disc.cue", "../../../../../../../etc/passwd", "", "disc", false},
    {"ColonInTheSheetName", "a:b.cue", "d.bin", "d.bin", "ab", false},
    {"BackslashInTheSheetName", "back\\slash.cue", "d.bin", "d.bin", "backslash", false},
    {"SpacesAndBrackets", "My Game (Disc 1) [!].cue", "d.bin", "d.bin", "MyGameDisc1", false},
    {"ShellCharacters", "$(touch pwned);`id`.cue", "d.bin", "d.bin", "touchpwnedid", false},
    {"NewlineInTheSheetName", "new\nline.cue", "d.bin", "d.bin", "newline", false},
    {"NonAsciiSheetName", "\xC3\xBCn\xC3\xAF" "c\xC3\xB6" "d\xC3\xA9.cue", "d.bin", "d.bin", "ncd", false},
    {"SheetNameOfDots", "...cue", "d.bin", "d.bin", "disc", false},
    {"HiddenSheetName", ".hidden.cue", "d.bin", "d.bin", "disc", false},
    {"LongSheetName", std::string(240, 'L') + ".cue", "d.bin", "d.bin", std::string(out_name_limit, 'L'), false},
    {"SheetNameLikeAnOption", "-rf.cue", "d.bin", "d.bin", "rf", true},
    {"RelativeArgument", "rel.cue", "d.bin", "d.bin", "rel", true},
};

bool inside(const std::string& path, const std::string& dir)
{
    return path == dir || path.compare(0, dir.size() + 1, dir + "/") == 0;
}

void PrintTo(const confinement_case& c, std::ostream* out) { *out << c.name; }

class WritesStayInside : public testing::TestWithParam<confinement_case> {};

} // namespace

TEST_P(WritesStayInside, OutputDirectoryOfTheSheet)
{
    const confinement_case& c = GetParam();
    const fs::path root = scratch_dir();
    const fs::path sheets = root / "sheets";
    fs::create_directories(sheets / "sub");
    fs::create_directories(root / "decoy");
    // Decoys carry other sector numbers, so a track copied from one shows.
    const std::string decoy = patterned_sectors(500, 8);
    const std::string base = fs::path(replace_all(c.file_name, "\\", "/")).filename().string();
    for (const fs::path& place : {root / base, root / "decoy" / base, sheets / "sub" / base})
        if (!base.empty() && base != "." && base != "..")
            write_file(place, decoy);
    if (!c.bin_beside.empty())
        write_file(sheets / c.bin_beside, patterned_sectors(0, 8));
    write_file(sheets / c.sheet_name, "FILE \"" + replace_all(c.file_name, "/tmp/decoy", (root / "decoy").string()) +
                                          "\" BINARY\nTRACK 01 MODE1/2352\nINDEX 01 00:00:00\n"
                                          "TRACK 02 AUDIO\nINDEX 01 00:00:04\n");

    const auto before = snapshot(root);
    // "--": a sheet named like an option is still a sheet.
    const command_result r = c.relative_argument ? run_tool({"--", c.sheet_name}, sheets)
                                                 : run_tool({sheets / c.sheet_name});
    const auto after = snapshot(root);

    const std::string out_dir = "sheets/" + c.out_dir;
    for (const auto& [path, contents] : after) {
        const auto old = before.find(path);
        if (old == before.end() || old->second != contents) {
            EXPECT_TRUE(inside(path, out_dir)) << "written outside " << out_dir << ": " << path;
        }
    }
    for (const auto& [path, contents] : before)
        EXPECT_TRUE(after.count(path) != 0) << "removed: " << path;

    if (c.bin_beside.empty()) {
        EXPECT_EQ(r.exit_status, 1);
        EXPECT_EQ(r.out.substr(r.out.find("\n\n") + 2), "Error!! line 1 CMD: FILE Open fail\n");
        EXPECT_EQ(before, after);
        return;
    }
    EXPECT_EQ(r.exit_status, 0) << r.out << r.err;
    const fs::path iso = sheets / c.out_dir / "track1.iso";
    ASSERT_TRUE(fs::exists(iso)) << r.out << r.err;
    EXPECT_TRUE(read_file(iso) == patterned_user_data(0, 4)) << "track1.iso does not hold the BIN beside the sheet";
}

INSTANTIATE_TEST_SUITE_P(Names, WritesStayInside, testing::ValuesIn(confinement_cases),
                         [](const testing::TestParamInfo<confinement_case>& c) { return c.param.name; });

// A track file left as a link by someone else must not carry the run's bytes
// out of the output directory.
TEST(WritesStayInsideLinks, TrackFileThatIsASymbolicLink)
{
    const fs::path root = scratch_dir();
    fs::create_directories(root / "sheets" / "disc");
    write_file(root / "victim", "must survive the run");
    fs::create_symlink("../../victim", root / "sheets" / "disc" / "track1.iso");
    write_disc(root / "sheets", small_sheet);

    const command_result r = run_tool({root / "sheets" / "disc.cue"});
    EXPECT_TRUE(read_file(root / "victim") == "must survive the run") << "the run wrote through the link";
    EXPECT_EQ(r.out, full_console("disc.cue", "disc"));
    if (fs::is_symlink(root / "sheets" / "disc" / "track1.iso")) {
        EXPECT_EQ(r.exit_status, 1) << "the track was not written, yet the run reports success";
    }
}

// ---------------------------------------------------------------------------
// A whole run of a mixed disc under valgrind's memory checker: no invalid
// access, no use of uninitialized bytes, no leak.

namespace {

fs::path find_on_path(const std::string& program)
{
    const char* path = std::getenv("PATH");
    std::string directories = path != nullptr ? path : "/usr/bin:/bin";
    for (std::size_t start = 0; start <= directories.size();) {
        const std::size_t end = std::min(directories.find(':', start), directories.size());
        const fs::path candidate = fs::path(directories.substr(start, end - start)) / program;
        if (access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return {};
}

// 16-bit stereo at 44100 Hz: a 440 Hz tone on the left, 660 Hz on the right.
std::string tone_sectors(int count)
{
    std::string bytes;
    const int frames = count * 588;
    for (int i = 0; i < frames; ++i) {
        for (const double hz : {440.0, 660.0}) {
            const double phase = 2 * std::numbers::pi * hz * i / 44100;
            const auto sample = static_cast<std::int16_t>(std::lround(12000 * std::sin(phase)));
            bytes += static_cast<char>(sample & 0xFF);
            bytes += static_cast<char>((sample >> 8) & 0xFF);
        }
    }
    return bytes;
}

bool built_with_address_sanitizer()
{
#if defined(__SANITIZE_ADDRESS__)
    return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    return true;
#endif
#endif
    return false;
}

} // namespace

TEST(Valgrind, MixedDiscRunsClean)
{
    // valgrind cannot run an AddressSanitizer build, whose own checks stand in.
    if (built_with_address_sanitizer())
        return;
    const fs::path valgrind = find_on_path("valgrind");
    ASSERT_FALSE(valgrind.empty()) << "valgrind is not installed (scripts/install-deps.sh installs it)";

    const fs::path dir = scratch_dir();
    write_file(dir / "mixed.bin", patterned_sectors(0, 20) + tone_sectors(150));
    write_file(dir / "mixed.cue", "FILE \"mixed.bin\" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n"
                                  "  TRACK 02 AUDIO\n    INDEX 00 00:00:18\n    INDEX 01 00:00:20\n");
    const command_result r = run_command({valgrind.string(), "--leak-check=full", "--error-exitcode=99",
                                          "--errors-for-leak-kinds=definite,indirect,possible", TRACKCARVE_EXE,
                                          (dir / "mixed.cue").string()});
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(r.out, full_console("mixed.cue", "mixed"));
    EXPECT_NE(r.err.find("ERROR SUMMARY: 0 errors from 0 contexts"), std::string::npos) << r.err;
    const decoded_stream audio = decode_ogg(dir / "mixed" / "track2.ogg");
    EXPECT_EQ(audio.pcm_total, 150 * 588);
    EXPECT_EQ(fs::file_size(dir / "mixed" / "track1.iso"), 20u * 2048);
}

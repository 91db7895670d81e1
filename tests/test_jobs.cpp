// The command line, several sheets in one call, tracks written side by side
// and the progress line: what a user sees must not depend on -j.
#include "support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace {

std::string msf(int sectors)
{
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", sectors / 4500, sectors / 75 % 60, sectors % 75);
    return text;
}

// A data track, then audio tracks, of these lengths in sectors; the BIN's
// pattern starts at first_sector, so that discs differ.
fs::path write_disc(const fs::path& dir, const std::string& name, const std::vector<int>& lengths,
                    int first_sector = 0)
{
    std::string sheet = "FILE \"" + name + ".bin\" BINARY\n";
    int start = 0;
    for (std::size_t n = 1; n <= lengths.size(); ++n) {
        sheet += "TRACK " + std::to_string(n) + (n == 1 ? " MODE1/2352\n" : " AUDIO\n") + "INDEX 01 " + msf(start) + "\n";
        start += lengths[n - 1];
    }
    write_file(dir / (name + ".bin"), patterned_sectors(first_sector, start));
    write_file(dir / (name + ".cue"), sheet);
    return dir / (name + ".cue");
}

// The first audio track much longer than the others, so that written side
// by side the tracks end out of order.
fs::path write_uneven_disc(const fs::path& dir) { return write_disc(dir, "uneven", {40, 3000, 150, 150, 150, 150}); }

} // namespace

TEST(Jobs, SideBySideGivesTheSameBytesInTheSameOrder)
{
    const fs::path dir = scratch_dir();
    const fs::path cue = write_uneven_disc(dir);
    // Problems in tracks 3 and 5 of 6: their names are taken by directories.
    // Each run writes afresh, keeping nothing from the run before.
    const auto fresh_folder = [&dir] {
        fs::remove_all(dir / "uneven");
        fs::create_directories(dir / "uneven" / "track3.ogg");
        fs::create_directories(dir / "uneven" / "track5.ogg");
    };
    fresh_folder();
    // Both streams to one file: with one writer the lines come in the order said.
    const command_result merged = run_command({TRACKCARVE_EXE, "-j", "1", cue.string()}, {}, [] { dup2(1, 2); });
    const std::string problem = "Processing file... track3.ogg\ntrackcarve: cannot create " +
                                (dir / "uneven" / "track3.ogg").string() + ": Is a directory\n"
                                "Processing file... track4.ogg\n";
    EXPECT_NE(merged.out.find(problem), std::string::npos) << merged.out;

    fresh_folder();
    const command_result one = run_tool({"-j", "1", cue.string()});
    const auto first = output_files(dir / "uneven");
    EXPECT_EQ(one.exit_status, 1);
    EXPECT_EQ(first.size(), 6u) << "the owner record, the TOC and four track files; no emulator sheet";
    // Side by side the tracks end out of order; each stream keeps its order.
    for (const char* jobs : {"2", "3"}) {
        fresh_folder();
        const command_result side = run_tool({"--jobs", jobs, cue.string()});
        SCOPED_TRACE(jobs);
        EXPECT_EQ(side.exit_status, 1);
        EXPECT_EQ(side.out, one.out);
        EXPECT_EQ(side.err, one.err);
        EXPECT_EQ(output_files(dir / "uneven"), first);
    }
}

// Side by side, a track is told as it begins, once the tracks before it are:
// the short tracks after the long track 2 are told while it is written.
TEST(Jobs, TracksAreToldAsTheyBegin)
{
    const fs::path dir = scratch_dir();
    const fs::path cue = write_uneven_disc(dir);
    pseudo_terminal terminal;
    child_process run({TRACKCARVE_EXE, "-j", "2", cue.string()}, {}, [&terminal] {
        start_watchdog();
        const int out = open(terminal.name().c_str(), O_WRONLY | O_NOCTTY);
        dup2(out, 1);   // standard output on the terminal, a line at a time
        close(out);
    });
    ASSERT_TRUE(terminal.wait_for("Processing file... track6.ogg")) << terminal.read_all();
    EXPECT_FALSE(fs::exists(dir / "uneven" / "track2.ogg")) << "told only once the long track was written";
    terminal.read_all();
    EXPECT_EQ(run.wait(), 0) << run.err();
}

TEST(Jobs, SeveralSheetsAreRunOneAfterAnother)
{
    const fs::path dir = scratch_dir();
    write_file(dir / "good.bin", patterned_sectors(0, 30));
    write_file(dir / "good.cue", "FILE \"good.bin\" BINARY\nTRACK 01 MODE1/2352\nINDEX 01 00:00:00\n"
                                 "TRACK 02 AUDIO\nINDEX 01 00:00:10\n");
    const command_result r = run_tool({"missing.cue", "good.cue"}, dir);
    EXPECT_EQ(r.out, "Open file missing.cue\n\nError abriendo CUE\n"
                     "Open file good.cue\n\nCreating directory: good\n\nCreating file: good.toc\n\n"
                     "Processing file... track1.iso\nProcessing file... track2.ogg\nDone\n");
    EXPECT_EQ(r.err, "trackcarve: missing.cue: cannot open the sheet missing.cue: No such file or directory\n");
    EXPECT_EQ(r.exit_status, 1) << "the highest status of the runs";
    EXPECT_EQ(fs::file_size(dir / "good" / "track1.iso"), 10u * 2048);
    EXPECT_EQ(decode_ogg(dir / "good" / "track2.ogg").pcm_total, 20 * 588);
    EXPECT_TRUE(fs::exists(dir / "good" / "good.cue"));
    EXPECT_EQ(run_tool({"good.cue", "good.cue"}, dir).exit_status, 0);
}

// Sheets for one call: the uneven disc with its track 3's name taken, twins
// whose names give one folder, a malformed sheet, a small disc, a missing
// sheet, and a data disc followed by the emulator sheet its split writes.
std::vector<std::string> write_library(const fs::path& dir)
{
    fs::create_directories(dir);
    write_uneven_disc(dir);
    fs::create_directories(dir / "uneven" / "track3.ogg");
    write_disc(dir, "twin.a", {20, 400}, 100);
    write_disc(dir, "twin.b", {30, 200}, 200);
    write_file(dir / "bad.cue", "FILE \"twin.a.bin\" BINARY\nTRACK 01 MODE7/2352\n");
    write_disc(dir, "small", {10, 90, 60}, 300);
    write_disc(dir, "data", {50, 600}, 400);
    return {"uneven.cue", "twin.a.cue", "twin.b.cue", "bad.cue", "small.cue", "missing.cue", "data.cue", "data/data.cue"};
}

TEST(Jobs, ManySheetsInOneCallGiveWhatEachGivesAlone)
{
    const fs::path dir = scratch_dir();
    const std::vector<std::string> sheets = write_library(dir / "source");
    fs::copy(dir / "source", dir / "alone", fs::copy_options::recursive);
    fs::copy(dir / "source", dir / "together", fs::copy_options::recursive);
    // Run together, each standard error line begins with its sheet's name.
    command_result alone{0, "", ""};
    for (const std::string& sheet : sheets) {
        const command_result r = run_command({TRACKCARVE_EXE, "-j", "1", sheet}, dir / "alone");
        std::string err = r.err;
        for (std::size_t at = 0; (at = err.find("trackcarve: ", at)) != std::string::npos; at = err.find('\n', at))
            err.insert(at + 12, sheet + ": ");
        alone = {std::max(alone.exit_status, r.exit_status), alone.out + r.out, alone.err + err};
    }
    const auto call = [&](const char* jobs, const std::function<void()>& in_child = {}) {
        std::vector<std::string> command{TRACKCARVE_EXE, "-j", jobs};
        command.insert(command.end(), sheets.begin(), sheets.end());
        return run_command(command, dir / "together", in_child);
    };
    const command_result together = call("3");

    EXPECT_EQ(together.out, alone.out);
    EXPECT_EQ(together.err, alone.err);
    EXPECT_EQ(together.exit_status, 1);
    EXPECT_EQ(alone.exit_status, 1);
    EXPECT_NE(alone.err.find("twin holds the tracks of another sheet, \"twin.a.cue\""), std::string::npos) << alone.err;
    EXPECT_NE(alone.out.find("Done\nOpen file data.cue\n\nError!! line 5"), std::string::npos) << alone.out;
    EXPECT_NE(together.err.find("trackcarve: uneven.cue: cannot create uneven/track3.ogg"), std::string::npos);
    for (const char* folder : {"uneven", "twin", "small", "data"})
        EXPECT_EQ(output_files(dir / "together" / folder), output_files(dir / "alone" / folder)) << folder;
    // One writer: both streams to one file keep their order across the two.
    const auto merged = [] { dup2(1, 2); };
    const command_result one_file = call("1", merged);
    EXPECT_NE(one_file.out.find("Processing file... track3.ogg\ntrackcarve: uneven.cue: cannot create"),
              std::string::npos) << one_file.out;
}

// A sheet's name begins its lines as it was given, quoted where it could be
// taken for more or less than a name.
TEST(Jobs, SheetNamesOnProblemLinesAreUnambiguous)
{
    const std::vector<std::pair<std::string, std::string>> names = {
        {"Game (Disc 1).cue", "Game (Disc 1).cue"}, {"dir/a:b.cue", "dir/a:b.cue"},
        {"Zelda: Link.cue", "\"Zelda: Link.cue\""}, {"two\nlines.cue", "\"two\\nlines.cue\""},
        {"\"quoted\".cue", "\"\\\"quoted\\\".cue\""}, {"tab\there\x7f", "\"tab\\there\\x7f\""},
    };
    for (const auto& [name, shown] : names)
        EXPECT_EQ(name_on_line(name), shown);
}

TEST(Jobs, OptionsAndTheirMistakes)
{
    const fs::path dir = scratch_dir();
    write_file(dir / "d.bin", patterned_sectors(0, 4));
    write_file(dir / "d.cue", "FILE \"d.bin\" BINARY\nTRACK 01 MODE1/2352\nINDEX 01 00:00:00\n");

    const command_result help = run_tool({"d.cue", "--help"}, dir);
    EXPECT_EQ(help.exit_status, 0);
    EXPECT_EQ(help.out.rfind("Usage: trackcarve", 0), 0u) << help.out;
    EXPECT_NE(help.out.find("--jobs"), std::string::npos);
    for (std::size_t at = 0, end; at < help.out.size(); at = end + 1) {
        end = help.out.find('\n', at);
        EXPECT_LE(end - at, 80u) << help.out.substr(at, end - at);
    }
    const command_result version = run_tool({"-V"}, dir);
    EXPECT_EQ(version.exit_status, 0);
    EXPECT_EQ(version.out.rfind("trackcarve 2.", 0), 0u) << version.out;
    EXPECT_NE(version.out.find("libVorbis"), std::string::npos) << version.out;
    EXPECT_NE(version.out.find("\nlibFLAC 1."), std::string::npos) << version.out;

    // Each row: the arguments, and the mistake's line where it is worth pinning.
    const std::vector<std::pair<std::vector<std::string>, std::string>> mistakes = {
        {{"--bogus", "d.cue"}, ""}, {{"-j", "0", "d.cue"}, ""}, {{"-j", "-2", "d.cue"}, ""},
        {{"--jobs=x", "d.cue"}, ""}, {{"d.cue", "-j"}, ""},     {{"-jj", "d.cue"}, ""},
        {{"-q", "10.5", "d.cue"}, "option '-q': '10.5' is not a quality from -1 to 10"},
        {{"-q", "-1.01", "d.cue"}, "option '-q': '-1.01' is not a quality from -1 to 10"},
        {{"--quality=1e1", "d.cue"}, "option '--quality=1e1': '1e1' is not a quality from -1 to 10"},
        {{"-q", "6,5", "d.cue"}, "option '-q': '6,5' is not a quality from -1 to 10"},
        {{"-q", "", "d.cue"}, "option '-q': '' is not a quality from -1 to 10"},
        {{"d.cue", "--quality"}, "option '--quality' needs a quality"},
        {{"--flac", "-q", "6", "d.cue"}, "option '-q' does not go with '--flac': FLAC is lossless"},
        {{"--sheet-word", "FLAC", "d.cue"}, "option '--sheet-word': 'FLAC' is not OGG or WAVE"},
        {{"--sheet-word=ogg", "d.cue"}, "option '--sheet-word=ogg': 'ogg' is not OGG or WAVE"},
        {{"-o", "", "d.cue"}, ""}, {{"d.cue", "--report"}, ""},
    };
    for (const auto& [arguments, line] : mistakes) {
        const command_result r = run_tool(arguments, dir);
        SCOPED_TRACE(arguments.front() + " " + arguments.back());
        EXPECT_EQ(r.exit_status, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.rfind("trackcarve: " + line, 0), 0u) << r.err;
        EXPECT_EQ(r.err.substr(r.err.find('\n') + 1), "Try 'trackcarve --help'\n");
    }
    EXPECT_FALSE(fs::exists(dir / "d")) << "a bad command line creates nothing";
    // After "--", a name like an option is a sheet.
    EXPECT_EQ(run_tool({"--", "-j"}, dir).out, "Open file -j\n\nError abriendo CUE\n");
}

// The progress line: drawn on a terminal and erased by the end, never on a
// file or pipe; ended by an interrupt before its last word.
struct progress_case {
    const char* name;
    std::string sheet;        // each sheet's name: this and its number
    std::vector<int> discs;   // audio sectors of each sheet's one track
    bool interrupted;
};

const progress_case progress_cases[] = {
    {"one sheet", "long", {9000}, false},
    {"two sheets named in CJK, too long to show whole", "日本語のとても長いゲームの名前のディスク", {4500, 9000}, false},
    {"one sheet interrupted", "long", {9000}, true},
};

// Columns on a terminal of text in ASCII and CJK: a CJK character, three
// bytes in UTF-8, takes two.
std::size_t columns(const std::string& text)
{
    std::size_t count = 0;
    for (const char byte : text)
        count += (byte & 0xC0) == 0x80 ? 0 : (byte & 0xF0) == 0xE0 ? 2 : 1;
    return count;
}

TEST(Jobs, ProgressLineOnlyOnATerminal)
{
    for (const progress_case& row : progress_cases) {
        SCOPED_TRACE(row.name);
        const fs::path dir = scratch_dir();
        std::vector<std::string> command{TRACKCARVE_EXE};
        for (std::size_t i = 0; i < row.discs.size(); ++i) {
            const std::string name = row.sheet + std::to_string(i + 1);
            write_file(dir / (name + ".bin"), patterned_sectors(0, row.discs[i]));   // noise to encode
            write_file(dir / (name + ".cue"), "FILE \"" + name + ".bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n");
            command.push_back((dir / (name + ".cue")).string());
        }
        pseudo_terminal terminal;
        child_process run(command, {}, [&terminal] {
            const int err = open(terminal.name().c_str(), O_WRONLY | O_NOCTTY);
            dup2(err, 2);   // only standard error on the terminal; standard output is a file
            close(err);
        });
        if (row.interrupted && terminal.wait_for(" left, "))
            run.send(SIGINT);
        const std::string seen = terminal.read_all();
        const int status = run.wait();

        // Each drawing and erasing at most 80 columns; each percent no lower
        // than the one before.
        std::vector<int> percents;
        bool estimate = false;
        for (std::size_t at = 0, end; at < seen.size(); at = end + 1) {
            end = std::min(seen.find('\r', at), seen.size());
            const std::string drawn = seen.substr(at, end - at);
            if (drawn.rfind("trackcarve: ", 0) != 0) {
                EXPECT_LE(columns(drawn), 80u) << drawn;
            }
            if (drawn.find("%, ") == std::string::npos)
                continue;
            percents.push_back(std::stoi(drawn));
            estimate = estimate || drawn.find(" left, ") != std::string::npos;
            if (row.discs.size() > 1) {
                EXPECT_NE(drawn.find(" sheet"), std::string::npos) << drawn;
            }
        }
        ASSERT_GE(percents.size(), 2u) << "no progress line: " << seen;
        EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end())) << seen;
        if (!row.interrupted) {   // an interrupt may come while it still shows 0%
            EXPECT_LT(percents.front(), percents.back()) << seen;
        }
        EXPECT_TRUE(estimate) << "no estimate of the time left: " << seen;
        if (row.discs.size() > 1) {   // the first alone or beside the second, then the second alone
            EXPECT_NE(seen.find("/2 " + row.sheet.substr(0, 12)), std::string::npos) << seen;
            EXPECT_NE(seen.find("sheet 2/2 " + row.sheet.substr(0, 12)), std::string::npos) << seen;
        }
        // Erased: blanks over it, the cursor back at the start, then only the
        // interrupt's last word.
        const std::string last_word =
            row.interrupted ? "trackcarve: interrupted with 0 of 1 tracks complete; run the same command again "
                              "to finish\r\n"
                            : "";
        ASSERT_GE(seen.size(), last_word.size() + 2);
        const std::size_t erase = seen.rfind('\r', seen.size() - last_word.size() - 2);
        ASSERT_NE(erase, std::string::npos);
        EXPECT_EQ(seen.substr(seen.size() - last_word.size() - 1), "\r" + last_word);
        EXPECT_EQ(seen.find_first_not_of(' ', erase + 1), seen.size() - last_word.size() - 1) << seen.substr(erase);
        if (row.interrupted) {
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status;
            EXPECT_EQ(run.out(), "Open file long1.cue\n\nCreating directory: long1\n\nCreating file: long1.toc\n\n"
                                 "Processing file... track1.ogg\n");
        } else {
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << seen;
        }
    }
    const fs::path dir = scratch_dir();
    write_file(dir / "short.bin", patterned_sectors(0, 300));
    write_file(dir / "short.cue", "FILE \"short.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n");
    EXPECT_EQ(run_tool({dir / "short.cue"}).err, "") << "a file gets no progress line";
}

// The command line, several sheets in one call, tracks written side by side
// and the progress line: what a user sees must not depend on -j.
#include "support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
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

// Every output file: its bytes, or for an .ogg its decoded samples.
std::map<std::string, std::string> outputs(const fs::path& dir)
{
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        // The record holds the times the files were written.
        if (!entry.is_regular_file() || name == ".trackcarve-record")
            continue;
        if (entry.path().extension() == ".ogg") {
            const decoded_stream d = decode_ogg(entry.path());
            files[name] = std::string(reinterpret_cast<const char*>(d.samples.data()), d.samples.size() * 2);
        } else {
            files[name] = read_file(entry.path());
        }
    }
    return files;
}

} // namespace

TEST(Jobs, SideBySideGivesTheSameBytesInTheSameOrder)
{
    const fs::path dir = scratch_dir();
    const fs::path cue = write_uneven_disc(dir);
    // A problem in track 3 of 6: its name is taken by a directory.
    fs::create_directories(dir / "uneven" / "track3.ogg");
    // Both streams to one file, to see the lines in the order they came.
    const auto merged = [] { dup2(1, 2); };
    const command_result one = run_command({TRACKCARVE_EXE, "-j", "1", cue.string()}, {}, merged);
    const auto first = outputs(dir / "uneven");
    // Written afresh, not kept from the first run.
    fs::remove_all(dir / "uneven");
    fs::create_directories(dir / "uneven" / "track3.ogg");
    const command_result three = run_command({TRACKCARVE_EXE, "--jobs=3", cue.string()}, {}, merged);

    EXPECT_EQ(one.exit_status, 1);
    EXPECT_EQ(three.exit_status, 1);
    EXPECT_EQ(one.out, three.out);
    const std::string problem = "Processing file... track3.ogg\ntrackcarve: cannot create " +
                                (dir / "uneven" / "track3.ogg").string() + ": Is a directory\n"
                                "Processing file... track4.ogg\n";
    EXPECT_NE(three.out.find(problem), std::string::npos) << three.out;
    EXPECT_EQ(outputs(dir / "uneven"), first);
    EXPECT_EQ(first.size(), 7u) << "the owner record, the TOC and five track files; no emulator sheet";
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
    EXPECT_EQ(r.err, "");
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
    command_result alone{0, "", ""};
    for (const std::string& sheet : sheets) {
        const command_result r = run_command({TRACKCARVE_EXE, "-j", "1", sheet}, dir / "alone");
        alone = {std::max(alone.exit_status, r.exit_status), alone.out + r.out, alone.err + r.err};
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
    for (const char* folder : {"uneven", "twin", "small", "data"})
        EXPECT_EQ(outputs(dir / "together" / folder), outputs(dir / "alone" / folder)) << folder;
    // Both streams to one file: the lines keep their order across the two.
    const auto merged = [] { dup2(1, 2); };
    EXPECT_EQ(call("3", merged).out, call("1", merged).out);
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
// file or pipe.
TEST(Jobs, ProgressLineOnlyOnATerminal)
{
    const fs::path dir = scratch_dir();
    write_file(dir / "long.bin", patterned_sectors(0, 9000));   // two minutes of noise to encode
    write_file(dir / "long.cue", "FILE \"long.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n");

    pseudo_terminal terminal;
    child_process run({TRACKCARVE_EXE, (dir / "long.cue").string()}, {}, [&terminal] {
        const int err = open(terminal.name().c_str(), O_WRONLY | O_NOCTTY);
        dup2(err, 2);   // only standard error on the terminal; standard output is a file
        close(err);
    });
    const std::string seen = terminal.read_all();
    const int status = run.wait();
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << seen;
    const std::size_t last = seen.rfind("x real time");
    ASSERT_NE(last, std::string::npos) << "no progress line: " << seen;
    EXPECT_NE(seen.find("track 1 "), std::string::npos) << seen;
    // Erased: blanks over it, the cursor back at the start, nothing after.
    const std::size_t erase = seen.find('\r', last);
    ASSERT_NE(erase, std::string::npos);
    EXPECT_EQ(seen.find_first_not_of(' ', erase + 1), seen.size() - 1) << seen.substr(erase);
    EXPECT_EQ(seen.back(), '\r');

    fs::remove_all(dir / "long");
    EXPECT_EQ(run_tool({dir / "long.cue"}).err, "") << "a file gets no progress line";
}

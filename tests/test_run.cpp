// The program as a user runs it: console text, exit status, what lands on disk.
#include "support.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

const std::string usage_tail = "\n\n Use:\n\n      trackcarve file.cue\n\n";

} // namespace

TEST(Run, WithoutArgumentPrintsUsage)
{
    const command_result r = run_tool({});
    EXPECT_EQ(r.exit_status, 0);
    ASSERT_GT(r.out.size(), usage_tail.size());
    EXPECT_EQ(r.out.substr(0, 10), "trackcarve");
    EXPECT_EQ(r.out.substr(r.out.size() - usage_tail.size()), usage_tail);
    EXPECT_EQ(r.out.find('\n'), r.out.size() - usage_tail.size());   // one first line
}

// The project's other commands answer --help with their usage and do
// nothing else: a script finds no command but sed on its PATH, so one that
// went on would fail at once.
TEST(Run, EveryCommandAnswersHelp)
{
    const fs::path dir = scratch_dir();
    const fs::path tools = dir / "path";
    fs::create_directories(tools);
    fs::create_symlink("/bin/sed", tools / "sed");
    const fs::path source = TRACKCARVE_SOURCE_DIR;
    std::vector<std::vector<std::string>> commands{{MAKE_SAMPLE_DISC_EXE, "--help"},
                                                   {"/bin/bash", (source / ".ci" / "run").string(), "--help"}};
    for (const char* folder : {"scripts", "bench", "windows", "windows/lib-check"})
        for (const auto& entry : fs::directory_iterator(source / folder))
            if (entry.path().extension() == ".sh" && entry.path().filename() != "lib.sh")
                commands.push_back({"/bin/bash", entry.path().string(), "--help"});
    for (const std::vector<std::string>& command : commands) {
        SCOPED_TRACE(command[command.size() - 2]);
        const command_result r = run_command(command, dir, [&tools] { setenv("PATH", tools.c_str(), 1); });
        EXPECT_EQ(r.exit_status, 0) << r.err;
        EXPECT_GT(r.out.size(), 40u);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(names_in(dir), std::vector<std::string>{"path"}) << "it made something";
    }
}

TEST(Run, CompleteRunOnASmallDisc)
{
    const fs::path dir = scratch_dir();
    const command_result r = run_tool({write_small_disc(dir, "My Game (Disc 1)")});
    EXPECT_EQ(r.out, full_console("My Game (Disc 1).cue", "MyGameDisc1"));
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(read_file(dir / "MyGameDisc1" / "MyGameDisc1.toc"),
              "Leadin\r\ntrack1.iso 00:00:10\r\ntrack2.ogg 00:00:20\r\nLeadout\r\n");
    EXPECT_EQ(fs::file_size(dir / "MyGameDisc1" / "track1.iso"), 10u * 2048);
    EXPECT_TRUE(fs::exists(dir / "MyGameDisc1" / "track2.ogg"));
}

TEST(Run, RelativePaths)
{
    const fs::path dir = scratch_dir();
    fs::create_directory(dir / "sub");
    write_small_disc(dir / "sub");
    const command_result r = run_tool({"sub/disc.cue"}, dir);
    EXPECT_EQ(r.out, full_console("disc.cue", "disc"));
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_TRUE(fs::exists(dir / "sub" / "disc" / "disc.toc"));

    const command_result here = run_tool({"disc.cue"}, dir / "sub");
    EXPECT_EQ(here.exit_status, 0);
}

TEST(Run, SecondRunReusesTheDirectoryAndOverwrites)
{
    const fs::path dir = scratch_dir();
    const fs::path cue = write_small_disc(dir);
    ASSERT_EQ(run_tool({cue}).exit_status, 0);
    write_file(dir / "disc" / "disc.toc", std::string(5000, 'x'));
    write_file(dir / "disc" / "track1.iso", std::string(100000, 'x'));
    const command_result again = run_tool({cue});
    EXPECT_EQ(again.exit_status, 0);
    // The track file changed is written again; the one as it was is kept.
    EXPECT_EQ(again.out, console_up_to_toc("disc.cue", "disc") + "Processing file... track1.iso\n"
                                                                 "Keeping file... track2.ogg\nDone\n");
    EXPECT_EQ(read_file(dir / "disc" / "disc.toc"), "Leadin\r\ntrack1.iso 00:00:10\r\ntrack2.ogg 00:00:20\r\nLeadout\r\n");
    EXPECT_EQ(fs::file_size(dir / "disc" / "track1.iso"), 10u * 2048);
}

TEST(Run, TocIsCompleteBeforeTheFirstTrackFile)
{
    const fs::path dir = scratch_dir();
    ASSERT_EQ(run_tool({write_small_disc(dir)}).exit_status, 0);
    const auto toc_time = fs::last_write_time(dir / "disc" / "disc.toc");
    EXPECT_LE(toc_time, fs::last_write_time(dir / "disc" / "track1.iso"));
    EXPECT_LE(toc_time, fs::last_write_time(dir / "disc" / "track2.ogg"));
}

TEST(Run, UnreadableCueSheet)
{
    const fs::path dir = scratch_dir();
    const command_result r = run_tool({dir / "nothing here.cue"});
    EXPECT_EQ(r.out, "Open file nothing here.cue\n\nError abriendo CUE\n");
    EXPECT_EQ(r.exit_status, 1);
    fs::create_directory(dir / "folder.cue");
    EXPECT_EQ(run_tool({dir / "folder.cue"}).out, "Open file folder.cue\n\nError abriendo CUE\n");
}

TEST(Run, SyntaxErrorCreatesNothing)
{
    const fs::path dir = scratch_dir();
    write_file(dir / "bad.cue", "\n\nTRACK 01 MODE1/2336\n");
    const command_result r = run_tool({dir / "bad.cue"});
    EXPECT_EQ(r.out, "Open file bad.cue\n\nError!! line 3 Invalid Track\n");
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_FALSE(fs::exists(dir / "bad"));
}

TEST(Run, TocThatCannotBeCreated)
{
    const fs::path dir = scratch_dir();
    const fs::path cue = write_small_disc(dir);
    write_file(dir / "disc", "a plain file holds the directory's name");
    const command_result r = run_tool({cue});
    EXPECT_EQ(r.out, "Open file disc.cue\n\nCreating directory: disc\n\nCreating file: disc.toc\n\nError creando TOC\n");
    EXPECT_EQ(r.exit_status, 1);
}

TEST(Run, SheetWithoutExtensionNamedLikeItsDirectory)
{
    // The directory cannot be made beside a file of the same name.
    const fs::path dir = scratch_dir();
    write_small_disc(dir);
    fs::rename(dir / "disc.cue", dir / "disc");
    const command_result r = run_tool({dir / "disc"});
    EXPECT_NE(r.out.find("Error creando TOC\n"), std::string::npos);
    EXPECT_EQ(r.exit_status, 1);
}

TEST(Run, EmptyOutputNameBecomesDisc)
{
    const fs::path dir = scratch_dir();
    write_small_disc(dir, "---");
    const command_result r = run_tool({dir / "---.cue"});
    EXPECT_EQ(r.exit_status, 0) << r.out << r.err;
    EXPECT_TRUE(fs::exists(dir / "disc" / "disc.toc"));
}

TEST(Run, PathTooLongIsRefusedFirst)
{
    const command_result r = run_tool({std::string(1990, 'd') + "/disc.cue"});
    EXPECT_EQ(r.out, "Error!! path too long\n");
    EXPECT_EQ(r.exit_status, 1);
}

TEST(Run, SheetWithoutFileLineWritesTheTocButNoTrack)
{
    const fs::path dir = scratch_dir();
    write_file(dir / "nobin.cue", "TRACK 01 MODE1/2352\nINDEX 01 00:00:00\nTRACK 02 AUDIO\nINDEX 01 01:00:00\n");
    const command_result r = run_tool({dir / "nobin.cue"});
    EXPECT_EQ(r.out, "Open file nobin.cue\n\nCreating directory: nobin\n\nCreating file: nobin.toc\n\nDone\n");
    EXPECT_EQ(r.err, "trackcarve: the sheet names no BIN file; no track file written\n");
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(read_file(dir / "nobin" / "nobin.toc"),
              "Leadin\r\ntrack1.iso 01:00:00\r\ntrack2.ogg 00:00:32\r\nLeadout\r\n");
}

TEST(Run, ByteOrderMarkBeforeTheFileLine)
{
    const fs::path dir = scratch_dir();
    write_small_disc(dir);
    write_file(dir / "bom.cue", "\xEF\xBB\xBF" + read_file(dir / "disc.cue"));
    const command_result r = run_tool({dir / "bom.cue"});
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(fs::file_size(dir / "bom" / "track1.iso"), 10u * 2048);
}

TEST(Run, SheetWithoutTracksIsReported)
{
    // A sheet of a FILE line alone.
    const fs::path dir = scratch_dir();
    write_file(dir / "wide.bin", patterned_sectors(0, 2));
    write_file(dir / "wide.cue", "FILE \"wide.bin\" BINARY\n");
    const command_result r = run_tool({dir / "wide.cue"});
    EXPECT_EQ(r.out, "Open file wide.cue\n\nCreating directory: wide\n\nCreating file: wide.toc\n\nDone\n");
    EXPECT_EQ(r.err, "trackcarve: the sheet lists no track; no track file written\n");
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(read_file(dir / "wide" / "wide.toc"), "Leadin\r\nLeadout\r\n");
}

TEST(Run, ProblemLinesKeepTheirPlaceInTheDialogueOnOneStream)
{
    // Track 1 wants 40 sectors of a 30-sector BIN; track 2 then has none.
    const fs::path dir = scratch_dir();
    write_file(dir / "disc.bin", patterned_sectors(0, 30));
    write_file(dir / "disc.cue", "FILE \"disc.bin\" BINARY\nTRACK 01 MODE1/2352\nINDEX 01 00:00:00\n"
                                 "TRACK 02 AUDIO\nINDEX 01 00:00:40\n");
    // Standard error joins standard output's file, which stdio buffers. One
    // writer: side by side, the two streams keep their orders apart.
    const command_result r =
        run_command({TRACKCARVE_EXE, "-j", "1", (dir / "disc.cue").string()}, {}, [] { dup2(1, 2); });
    EXPECT_EQ(r.out, "Open file disc.cue\n\nCreating directory: disc\n\nCreating file: disc.toc\n\n"
                     "Processing file... track1.iso\n"
                     "trackcarve: track1.iso: the BIN ends 10 sectors before the end of the track; padded with zeros\n"
                     "Processing file... track2.ogg\n"
                     "trackcarve: track2.ogg: the BIN ends 18816 audio frames before the end of the track; "
                     "the stream stops there\n"
                     "trackcarve: disc.cue not written: track1.iso was padded or cut where the BIN ended\n"
                     "Done\n");
    EXPECT_EQ(r.exit_status, 1);
}

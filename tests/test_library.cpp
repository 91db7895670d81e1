// A library of sheets: outputs in a folder of the user's choice, whole
// names, the playlists of multi-disc sets, reruns that skip what is done,
// the JSON Lines report, and the manual's GNU parallel recipe.
#include "support.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

command_result trackcarve(std::vector<std::string> args, const std::function<void()>& in_child = {})
{
    args.insert(args.begin(), TRACKCARVE_EXE);
    return run_command(args, {}, in_child);
}

// Every entry of a folder tree and when it was last written.
std::map<std::string, fs::file_time_type> written_times(const fs::path& dir)
{
    std::map<std::string, fs::file_time_type> times;
    for (const auto& entry : fs::recursive_directory_iterator(dir))
        times[entry.path().string()] = entry.last_write_time();
    return times;
}

} // namespace

TEST(Library, OutputFolderMadeWithItsParentsFromAReadOnlySource)
{
    const fs::path dir = scratch_dir();
    const fs::path cue = write_small_disc(dir / "share", "My Game (Disc 1)");
    fs::create_directory(dir / "mine");
    chmod((dir / "mine").c_str(), 0777);
    chmod((dir / "share").c_str(), 0555);
    const auto shared = written_times(dir / "share");
    const fs::path out = dir / "mine" / "new" / "out";
    const command_result r = trackcarve({"-o", out.string(), cue.string()}, [] {
        // Root writes anywhere: the run is nobody's, and the share not nobody's to write.
        if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
            _exit(125);
    });
    chmod((dir / "share").c_str(), 0755);
    EXPECT_EQ(r.out, full_console("My Game (Disc 1).cue", "MyGameDisc1"));
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.exit_status, 0);
    expect_complete_split(out / "MyGameDisc1", "MyGameDisc1");
    EXPECT_EQ(written_times(dir / "share"), shared);
    // Away from its sheet, the emulator sheet names it by its full path.
    const std::string source_line = "REM SOURCE \"" + cue.string() + "\"\r\n";
    EXPECT_EQ(read_file(out / "MyGameDisc1" / "MyGameDisc1.cue").rfind(source_line, 0), 0u);
}

TEST(Library, SheetsOfOneNameFromTwoFoldersDoNotShareOneOutputFolder)
{
    const fs::path dir = scratch_dir();
    const command_result r = trackcarve({"-o", (dir / "out").string(), write_small_disc(dir / "usa", "Game").string(),
                                         write_small_disc(dir / "eur", "Game").string()});
    EXPECT_EQ(r.out, full_console("Game.cue", "Game") + "Open file Game.cue\n\nCreating directory: Game\n\n");
    EXPECT_EQ(r.err, "trackcarve: " + (dir / "eur" / "Game.cue").string() + ": " + (dir / "out" / "Game").string() +
                         " holds the tracks of another sheet, \"" +
                         (dir / "usa" / "Game.cue").string() +
                         "\"; nothing was overwritten (--full-names gives this sheet a folder of its own)\n");
    EXPECT_EQ(r.exit_status, 1);
}

// Four discs whose short names are one: only the whole names part them.
TEST(Library, MultiDiscSetGetsOnePlaylistInDiscOrder)
{
    const fs::path dir = scratch_dir();
    std::vector<std::string> sheets;
    const auto disc_name = [](int disc) { return "Legend of Dragoon, The (USA) (Disc " + std::to_string(disc) + ")"; };
    for (const int disc : {3, 1, 4, 2})
        sheets.push_back(write_small_disc(dir, disc_name(disc)).string());
    const command_result short_names = trackcarve(sheets);
    EXPECT_EQ(short_names.exit_status, 1);
    EXPECT_NE(short_names.err.find("-o DIR or --full-names"), std::string::npos) << short_names.err;
    EXPECT_FALSE(fs::exists(dir / "LegendofDragoonTheUSA.m3u")) << "a playlist of one disc";
    fs::remove_all(dir / "LegendofDragoonTheUSADisc");

    sheets.insert(sheets.begin(), "--full-names");
    const command_result r = trackcarve(sheets);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.exit_status, 0);
    std::string playlist;
    for (const int disc : {1, 2, 3, 4}) {
        const std::string name = disc_name(disc);
        expect_complete_split(dir / name, name);
        playlist += name + "/" + name + ".cue\r\n";
    }
    const fs::path m3u = dir / "Legend of Dragoon, The (USA).m3u";
    EXPECT_EQ(read_file(m3u), playlist);
    // A rerun that skips every disc leaves the playlist be; one the user keeps there is not replaced.
    const auto written = fs::last_write_time(m3u);
    sheets.insert(sheets.begin(), "--skip-done");
    EXPECT_EQ(trackcarve(sheets).exit_status, 0);
    EXPECT_EQ(fs::last_write_time(m3u), written);
    write_file(m3u, "Legend of Dragoon, The (USA) (Disc 1).cue\n");
    EXPECT_EQ(trackcarve(sheets).err,
              "trackcarve: " + m3u.string() + " not written: a playlist of other files holds the name\n");
    EXPECT_EQ(read_file(m3u), "Legend of Dragoon, The (USA) (Disc 1).cue\n");
    write_file(m3u, playlist);
    // Mednafen loads every disc of it (it takes a path with a folder only when told to).
    const command_result mednafen = run_command(
        {"/usr/bin/env", "HOME=" + dir.string(), "SDL_VIDEODRIVER=dummy", "SDL_AUDIODRIVER=dummy", "/usr/bin/timeout",
         "20", "/usr/games/mednafen", "-filesys.untrusted_fip_check", "0", "-force_module", "pce",
         "Legend of Dragoon, The (USA).m3u"},
        dir);
    EXPECT_NE(mednafen.out.find("CD 4 TOC:"), std::string::npos) << mednafen.out;
    EXPECT_EQ(mednafen.out.find("CD 5 TOC:"), std::string::npos) << mednafen.out;
}

// One line per sheet as it ends, whatever became of it, and what it says
// agrees with the files.
TEST(Library, ReportLinesAgreeWithTheFiles)
{
    const fs::path dir = scratch_dir();
    const fs::path good = write_small_disc(dir, "good");
    write_file(dir / "short.bin", patterned_sectors(0, 25) + std::string(100, 0));   // and a partial sector
    write_file(dir / "short.cue", read_file(dir / "good.cue").replace(6, 4, "short"));
    const fs::path log = dir / "log.jsonl";
    const command_result first = trackcarve(
        {"--report", log.string(), good.string(), (dir / "short.cue").string(), (dir / "gone.cue").string()});
    const command_result again = trackcarve({"--skip-done", "--report", log.string(), good.string()});
    ASSERT_EQ(again.exit_status, 0);

    std::istringstream lines(read_file(log));
    std::vector<nlohmann::json> sheets;
    for (std::string line; std::getline(lines, line);)
        sheets.push_back(nlohmann::json::parse(line));
    ASSERT_EQ(sheets.size(), 4u);
    const std::string statuses[] = {"done", "problems", "error", "skipped"};
    for (std::size_t i = 0; i < 4; ++i)
        EXPECT_EQ(sheets[i]["status"], statuses[i]) << sheets[i];
    EXPECT_EQ(sheets[0]["sheet"], good.string());
    EXPECT_EQ(sheets[0]["output"], (dir / "good").string());
    EXPECT_EQ(sheets[0]["problems"].size(), 0u);
    EXPECT_EQ(sheets[2]["tracks"].size(), 0u);
    EXPECT_EQ(sheets[2]["output"], nullptr) << "no folder was made";
    EXPECT_EQ(sheets[2]["problems"], nlohmann::json::array({"cannot open the sheet " + (dir / "gone.cue").string() +
                                                            ": No such file or directory"}));
    EXPECT_EQ(sheets[3]["tracks"], sheets[0]["tracks"]);
    for (const std::size_t i : {0u, 1u}) {
        const fs::path out = dir / (i == 0 ? "good" : "short");
        ASSERT_EQ(sheets[i]["tracks"].size(), 2u);
        for (const auto& track : sheets[i]["tracks"])
            EXPECT_EQ(track["bytes"], fs::file_size(out / track["file"].get<std::string>())) << track;
        EXPECT_EQ(sheets[i]["tracks"][0]["kind"], "data");
        EXPECT_EQ(sheets[i]["tracks"][1]["sectors"], i == 0 ? 20 : 15);
        EXPECT_GE(sheets[i]["seconds"].get<double>(), 0.0);
    }
    std::string reported;   // with the sheet's name before it on standard error
    for (const std::size_t i : {1u, 2u})
        for (const auto& problem : sheets[i]["problems"])
            reported += "trackcarve: " + sheets[i]["sheet"].get<std::string>() + ": " + problem.get<std::string>() + "\n";
    EXPECT_EQ(reported, first.err);
}

// The manual's recipe across machines, on one: GNU parallel runs a
// trackcarve per sheet, twice; the second pass skips every sheet.
TEST(Library, ParallelRecipeTwiceOverTenSheets)
{
    const fs::path dir = scratch_dir();
    std::vector<std::string> command{"/usr/bin/parallel", "--will-cite", "-j", "2", TRACKCARVE_EXE, "-j", "1",
                                     "--skip-done", "--report", (dir / "log.jsonl").string(), "-o",
                                     (dir / "out").string(), ":::"};
    for (int n = 1; n <= 10; ++n)
        command.push_back(write_small_disc(dir / "share", "song " + std::to_string(n)).string());
    const command_result first = run_command(command);
    ASSERT_EQ(first.exit_status, 0) << first.out << first.err;
    for (int n = 1; n <= 10; ++n)
        expect_complete_split(dir / "out" / ("song" + std::to_string(n)), "song" + std::to_string(n));
    const auto times = written_times(dir / "out");
    const command_result second = run_command(command);
    EXPECT_EQ(second.exit_status, 0) << second.err;
    EXPECT_EQ(written_times(dir / "out"), times);
    std::istringstream lines(read_file(dir / "log.jsonl"));
    std::map<std::string, int> statuses;
    for (std::string line; std::getline(lines, line);)
        ++statuses[nlohmann::json::parse(line)["status"].get<std::string>()];
    EXPECT_EQ(statuses, (std::map<std::string, int>{{"done", 10}, {"skipped", 10}}));
    EXPECT_EQ(std::count(second.out.begin(), second.out.end(), '\n'), 10) << second.out;
}

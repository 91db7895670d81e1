// Library runs that can be trusted: each fault an audit of --skip-done,
// --report, -o and the playlists found is a row of one table, with its
// reproduction; then runs killed at random moments and an interrupted run,
// whose reruns must end where a clean run ends, redoing only what differed.
#include "support.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

command_result trackcarve(std::vector<std::string> args, const fs::path& cwd = {},
                          const std::function<void()>& in_child = {})
{
    args.insert(args.begin(), TRACKCARVE_EXE);
    return run_command(args, cwd, in_child);
}

// What a rerun of the small disc says when it writes these of its two tracks again.
std::string rerun_console(const std::string& name, bool data_again, bool audio_again)
{
    return console_up_to_toc(name + ".cue", name) + (data_again ? "Processing" : "Keeping") +
           " file... track1.iso\n" + (audio_again ? "Processing" : "Keeping") + " file... track2.ogg\nDone\n";
}

// A small disc split once, as game.cue in dir: its output folder.
fs::path split_game(const fs::path& dir, std::vector<std::string> args = {})
{
    args.push_back(write_small_disc(dir, "game").string());
    EXPECT_EQ(trackcarve(args).exit_status, 0);
    return dir / "game";
}

// A two-disc set, whole names, split once; the call's arguments, and what it said on standard error.
std::vector<std::string> split_set(const fs::path& dir, const std::string& name, std::string* err = nullptr)
{
    std::vector<std::string> args{"--full-names"};
    for (const char* disc : {" (Disc 1)", " (Disc 2)"})
        args.push_back(write_small_disc(dir, name + disc).string());
    const command_result r = trackcarve(args);
    if (err != nullptr)
        *err = r.err;
    else
        EXPECT_EQ(r.exit_status, 0) << r.err;
    return args;
}

// The process id of a process that has ended.
std::string dead_process_id()
{
    child_process gone({"/bin/true"});
    gone.wait();
    return std::to_string(gone.pid());
}

void as_nobody()
{
    if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
        _exit(125);
}

struct fault_row {
    const char* name;
    std::function<void(const fs::path& dir)> check;
};

const fault_row fault_rows[] = {
    // 1. --skip-done trusted names and times.
    {"TruncatedTrack", [](const fs::path& dir) {
         const fs::path out = split_game(dir);
         fs::resize_file(out / "track1.iso", 1000);
         EXPECT_EQ(trackcarve({"--skip-done", (dir / "game.cue").string()}).out, rerun_console("game", true, false));
         expect_complete_split(out, "game");
     }},
    {"ZeroLengthTrackOfAPowerLoss", [](const fs::path& dir) {
         const fs::path out = split_game(dir);
         fs::resize_file(out / "track2.ogg", 0);
         EXPECT_EQ(trackcarve({"--skip-done", (dir / "game.cue").string()}).out, rerun_console("game", false, true));
         expect_complete_split(out, "game");
     }},
    {"BinReplacedByAnOlderOne", [](const fs::path& dir) {
         const fs::path out = split_game(dir);
         const auto older = fs::last_write_time(dir / "game.bin") - std::chrono::hours(24);
         write_file(dir / "game.bin", patterned_sectors(500, 30));   // as cp -p: in place, its time kept
         fs::last_write_time(dir / "game.bin", older);
         EXPECT_EQ(trackcarve({"--skip-done", (dir / "game.cue").string()}).out, rerun_console("game", true, true));
         EXPECT_TRUE(read_file(out / "track1.iso") == patterned_user_data(500, 10));
     }},
    {"ChangedQuality", [](const fs::path& dir) {
         const fs::path out = split_game(dir);
         const std::string before = read_file(out / "track2.ogg");
         const command_result r = trackcarve({"--skip-done", "-q", "6", (dir / "game.cue").string()});
         EXPECT_EQ(r.out, rerun_console("game", false, true));
         EXPECT_NE(read_file(out / "track2.ogg").size(), before.size());
     }},
    {"ChangedSheetWord", [](const fs::path& dir) {
         const fs::path out = split_game(dir);
         const command_result r = trackcarve({"--skip-done", "--sheet-word", "WAVE", (dir / "game.cue").string()});
         EXPECT_EQ(r.out, rerun_console("game", false, false));
         EXPECT_NE(read_file(out / "game.cue").find("FILE \"track2.ogg\" WAVE\r\n"), std::string::npos);
     }},
    {"TocOfAnInterruptedRunWithOtherOptions", [](const fs::path& dir) {
         const fs::path out = split_game(dir);
         write_file(out / "game.toc", "Leadin\r\ntrack1.bin 00:00:10\r\ntrack2.flac 00:00:20\r\nLeadout\r\n");
         EXPECT_EQ(trackcarve({"--skip-done", (dir / "game.cue").string()}).out, rerun_console("game", false, false));
         expect_complete_split(out, "game");
     }},
    {"LinkedOutputFolder", [](const fs::path& dir) {
         split_game(dir);
         fs::rename(dir / "game", dir / "elsewhere");
         fs::create_directory_symlink("elsewhere", dir / "game");
         const command_result r = trackcarve({"--skip-done", (dir / "game.cue").string()});
         EXPECT_EQ(r.out, "Open file game.cue\n\nCreating directory: game\n\n");
         EXPECT_EQ(r.err, "trackcarve: " + (dir / "game").string() +
                              " is a symbolic link; nothing was written through it (-o DIR or --full-names gives "
                              "this sheet a folder of its own)\n");
         EXPECT_EQ(r.exit_status, 1);
     }},
    // The hidden track before track 1 and a LibCrypt file beside the sheet are files of the split too.
    {"HiddenTrackAndLibCryptData", [](const fs::path& dir) {
         write_file(dir / "disc.bin", patterned_sectors(0, 700));
         write_file(dir / "disc.sbi", "SBI one");
         write_file(dir / "disc.cue", "FILE \"disc.bin\" BINARY\nTRACK 01 AUDIO\nPREGAP 00:01:00\nINDEX 01 00:04:00\n"
                                      "TRACK 02 AUDIO\nINDEX 01 00:06:00\n");
         const std::string cue = (dir / "disc.cue").string();
         trackcarve({"--flac", cue});
         EXPECT_EQ(trackcarve({"--flac", "--skip-done", cue}).out,
                   "Skipping disc.cue: its split in " + (dir / "disc").string() + " is complete and up to date\n");
         fs::resize_file(dir / "disc" / "track00.flac", 1000);
         write_file(dir / "disc.sbi", "SBI two");
         EXPECT_EQ(trackcarve({"--flac", "--skip-done", cue}).out,
                   console_up_to_toc("disc.cue", "disc") +
                       "Processing file... track00.flac\nKeeping file... track1.flac\nKeeping file... track2.flac\nDone\n");
         EXPECT_EQ(read_file(dir / "disc" / "disc.sbi"), "SBI two");
     }},
    // Tracks kept are not read by the writers: the hashes read them all the same.
    {"KeptTracksStillHashed", [](const fs::path& dir) {
         const command_result first = trackcarve({"--hash", write_small_disc(dir, "game").string()});
         const command_result rerun = trackcarve({"--hash", (dir / "game.cue").string()});
         EXPECT_EQ(rerun.out.substr(0, rerun.out.find("Done\n") + 5), rerun_console("game", false, false));
         EXPECT_EQ(rerun.out.substr(rerun.out.find("Done\n")), first.out.substr(first.out.find("Done\n")));
         EXPECT_EQ(rerun.exit_status, 0) << rerun.err;
     }},
    // 2. --report FILE was not checked.
    {"ReportNamedTheSheetBeforeIt", [](const fs::path& dir) {
         const std::string a = write_small_disc(dir, "a").string();
         const std::string sheet = read_file(a);
         const command_result r = trackcarve({"--report", a, write_small_disc(dir, "b").string()});
         EXPECT_EQ(r.err, "trackcarve: --report " + a + ": that file holds something other than report lines; "
                          "give the report a new file, or one that holds earlier reports\n");
         EXPECT_EQ(r.exit_status, 2);
         EXPECT_EQ(read_file(a), sheet);
         EXPECT_FALSE(fs::exists(dir / "b"));
         EXPECT_EQ(trackcarve({"--report", a, a}).err, "trackcarve: --report " + a + ": that is a sheet of this call; "
                                                       "give the report a file of its own\n");
     }},
    {"ReportNamedATrackJustWritten", [](const fs::path& dir) {
         const fs::path out = split_game(dir);
         const std::string track = (out / "track1.iso").string();
         const command_result r = trackcarve({"--report", track, (dir / "game.cue").string()});
         EXPECT_EQ(r.err, "trackcarve: --report " + track + ": that lies in the output folder of " +
                              (dir / "game.cue").string() + "; give the report a file outside the output folders\n");
         EXPECT_EQ(r.exit_status, 2);
         EXPECT_EQ(r.out, "");
     }},
    {"ReportNamedAFifoWithNoReader", [](const fs::path& dir) {
         ASSERT_EQ(mkfifo((dir / "log").c_str(), 0600), 0);
         const command_result r =
             trackcarve({"--report", (dir / "log").string(), write_small_disc(dir, "a").string()}, {}, start_watchdog);
         EXPECT_EQ(r.exit_status, 2) << "the run hung or went on: " << r.err;
         EXPECT_FALSE(fs::exists(dir / "a"));
     }},
    // 3. -o could give the sheet's own folder.
    {"OutputFolderThatIsTheSheetsOwn", [](const fs::path& dir) {
         const fs::path cue = write_small_disc(dir / "lib" / "Game", "Game");
         write_file(dir / "lib" / "Game" / "track2.ogg", "the user's own");
         const command_result r = trackcarve({"-o", (dir / "lib").string(), cue.string()});
         EXPECT_EQ(r.out, "Open file Game.cue\n\nCreating directory: Game\n\n");
         EXPECT_EQ(r.err, "trackcarve: " + (dir / "lib" / "Game").string() + " is the folder of the sheet itself; "
                          "nothing was written there (give -o another folder)\n");
         EXPECT_EQ(r.exit_status, 1);
         EXPECT_EQ(read_file(dir / "lib" / "Game" / "track2.ogg"), "the user's own");
         EXPECT_EQ(names_in(dir / "lib" / "Game"), (std::vector<std::string>{"Game.bin", "Game.cue", "track2.ogg"}));
     }},
    // 4. Ownership was lost for deep paths, and for another spelling of the folder.
    {"DeepPathsKeepTheirOwner", [](const fs::path& dir) {
         fs::path deep = dir;
         for (int level = 0; level < 6; ++level)
             deep /= std::string(200, static_cast<char>('a' + level));
         fs::create_directories(deep);
         write_small_disc(deep / "usa", "Game");
         write_small_disc(deep / "eur", "Game");
         EXPECT_EQ(trackcarve({"-o", "out", "usa/Game.cue"}, deep).exit_status, 0);
         const command_result r = trackcarve({"-o", "out", "eur/Game.cue"}, deep);
         EXPECT_NE(r.err.find(" holds the tracks of another sheet, \"" + (deep / "usa" / "Game.cue").string() + "\""),
                   std::string::npos) << r.err;
         EXPECT_EQ(r.exit_status, 1);
     }},
    {"SameFolderSpeltAnotherWay", [](const fs::path& dir) {
         write_small_disc(dir / "src", "game");
         ASSERT_EQ(trackcarve({"src/game.cue"}, dir).exit_status, 0);
         const command_result r = trackcarve({"-o", "./src/", "src/game.cue"}, dir);
         EXPECT_EQ(r.out, rerun_console("game", false, false));
         EXPECT_EQ(r.exit_status, 0) << r.err;
     }},
    // 5. Playlists.
    {"TwoSetsOfOnePlaylistName", [](const fs::path& dir) {
         std::vector<std::string> sheets;
         for (const char* name : {"AB (Disc 1)", "AB (Disc 2)", "A (Disc 1) B", "A (Disc 2) B"})
             sheets.push_back(write_small_disc(dir, name).string());
         const command_result r = trackcarve(sheets);
         EXPECT_EQ(r.err, "trackcarve: " + dir.string() + "/AB.m3u not written for \"A B\": it is the playlist of "
                          "\"AB\" in this call (--full-names or another name keeps the sets apart)\n");
         EXPECT_EQ(read_file(dir / "AB.m3u"), "ABDisc1/ABDisc1.cue\r\nABDisc2/ABDisc2.cue\r\n");
     }},
    {"PlaylistLineThatLooksLikeAComment", [](const fs::path& dir) {
         split_set(dir, "#1 Hits");
         EXPECT_EQ(read_file(dir / "#1 Hits.m3u"),
                   "./#1 Hits (Disc 1)/#1 Hits (Disc 1).cue\r\n./#1 Hits (Disc 2)/#1 Hits (Disc 2).cue\r\n");
         const command_result mednafen = run_command(
             {"/usr/bin/env", "HOME=" + dir.string(), "SDL_VIDEODRIVER=dummy", "SDL_AUDIODRIVER=dummy",
              "/usr/bin/timeout", "20", "/usr/games/mednafen", "-filesys.untrusted_fip_check", "0", "-force_module",
              "pce", "#1 Hits.m3u"},
             dir);
         EXPECT_NE(mednafen.out.find("CD 2 TOC:"), std::string::npos) << mednafen.out << mednafen.err;
     }},
    {"DiscWhoseRerunFailed", [](const fs::path& dir) {
         std::vector<std::string> args = split_set(dir, "Game");
         write_file(dir / "Game (Disc 2).bin", patterned_sectors(0, 5));   // track 1 cut: its sheet goes
         EXPECT_EQ(trackcarve(args).exit_status, 1);
         EXPECT_EQ(read_file(dir / "Game.m3u"), "Game (Disc 1)/Game (Disc 1).cue\r\n");
     }},
    {"UserFileAtThePlaylistsName", [](const fs::path& dir) {
         for (const std::string& held : {std::string(), std::string(4096, '\0')}) {
             write_file(dir / "Game.m3u", held);
             std::string err;
             split_set(dir, "Game", &err);
             EXPECT_EQ(err, "trackcarve: " + (dir / "Game.m3u").string() +
                                " not written: a playlist of other files holds the name\n");
             EXPECT_EQ(read_file(dir / "Game.m3u"), held);
         }
     }},
    {"PlaylistTemporaryOfAKilledRun", [](const fs::path& dir) {
         const fs::path left = dir / (".Game.m3u." + dead_process_id() + ".trackcarve-tmp");
         write_file(left, "Game (Disc 1)/Game");
         split_set(dir, "Game");
         EXPECT_FALSE(fs::exists(left));
         EXPECT_TRUE(fs::exists(dir / "Game.m3u"));
     }},
    // 6. A change of codec left the old files.
    {"SwitchToFlacRemovesTheOggOnly", [](const fs::path& dir) {
         split_game(dir);
         const fs::path edited = write_small_disc(dir / "mine", "edited");
         ASSERT_EQ(trackcarve({edited.string()}).exit_status, 0);
         write_file(dir / "mine" / "edited" / "track2.ogg", "the user's own");
         ASSERT_EQ(trackcarve({"--flac", (dir / "game.cue").string(), edited.string()}).exit_status, 0);
         EXPECT_EQ(names_in(dir / "game"), (std::vector<std::string>{".trackcarve-owner", ".trackcarve-record",
                                                                      "game.cue", "game.toc", "track1.iso", "track2.flac"}));
         EXPECT_EQ(read_file(dir / "mine" / "edited" / "track2.ogg"), "the user's own");
     }},
    // 7. The minor two.
    {"PermissionErrorMakingTheOutputsParents", [](const fs::path& dir) {
         const fs::path cue = write_small_disc(dir, "game");
         fs::create_directory(dir / "locked");
         const command_result r = trackcarve({"-o", (dir / "locked" / "sub" / "out").string(), cue.string()}, {}, as_nobody);
         EXPECT_EQ(r.out, console_up_to_toc("game.cue", "game") + "Error creando TOC\n");
         EXPECT_EQ(r.err, "trackcarve: cannot create the folder " + (dir / "locked" / "sub").string() +
                             ": Permission denied; give -o a folder you can write to\n");
     }},
    {"StandardOutputAtDevFull", [](const fs::path& dir) {
         const command_result r = trackcarve({write_small_disc(dir, "a").string(), write_small_disc(dir, "b").string()},
                                             {}, [] { freopen("/dev/full", "w", stdout); });
         // Told once, on the line of the sheet that found it.
         EXPECT_EQ(r.err, "trackcarve: " + (dir / "a.cue").string() +
                              ": cannot write to standard output: No space left on device\n");
         EXPECT_EQ(r.exit_status, 1);
     }},
};

void PrintTo(const fault_row& row, std::ostream* os) { *os << row.name; }

class LibraryFault : public testing::TestWithParam<fault_row> {};

TEST_P(LibraryFault, IsFixed) { GetParam().check(scratch_dir()); }

INSTANTIATE_TEST_SUITE_P(Rows, LibraryFault, testing::ValuesIn(fault_rows),
                         [](const testing::TestParamInfo<fault_row>& row) { return std::string(row.param.name); });

// The files the folder's record lists, in place as it says (the size).
std::vector<std::string> recorded_in_place(const fs::path& out)
{
    std::vector<std::string> names;
    if (!fs::exists(out / ".trackcarve-record"))
        return names;
    const nlohmann::json record = nlohmann::json::parse(read_file(out / ".trackcarve-record"), nullptr, false);
    if (record.is_discarded())
        return names;
    for (const auto& output : record["outputs"]) {
        const fs::path file = out / output["name"].get<std::string>();
        if (fs::exists(file) && fs::file_size(file) == output["size"].get<std::uintmax_t>())
            names.push_back(output["name"].get<std::string>());
    }
    return names;
}

bool lists(const std::vector<std::string>& names, const std::string& name)
{
    return std::find(names.begin(), names.end(), name) != names.end();
}

} // namespace

// Twenty sheets at -j 8, killed at random moments again and again; then a
// --skip-done run after a track was truncated and with another -q: it ends
// where a clean run ends, and redoes only what differed.
TEST(LibraryKills, RandomKillsThenSkipDoneEndLikeACleanRun)
{
    const fs::path dir = scratch_dir();
    std::vector<std::string> sheets{"-j", "8"};
    for (int n = 0; n < 20; ++n)
        sheets.push_back(write_small_disc(dir / "cds", "disc" + std::to_string(n)).string());
    const auto with = [&](std::vector<std::string> front, const std::string& out) {
        front.insert(front.end(), {"-o", (dir / out).string()});
        front.insert(front.end(), sheets.begin(), sheets.end());
        front.insert(front.begin(), TRACKCARVE_EXE);
        return front;
    };
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(run_command(with({"-q", "3"}, "clean")).exit_status, 0);
    const auto clean_time = std::chrono::steady_clock::now() - start;

    std::mt19937 random(20261209);
    for (int kill = 0; kill < 8; ++kill) {
        child_process run(with({}, "out"), {}, start_watchdog);
        std::this_thread::sleep_for(clean_time * std::uniform_real_distribution<double>(0, 1)(random));
        run.send(SIGKILL);
        run.wait();
    }
    ASSERT_EQ(run_command(with({}, "out")).exit_status, 0);   // whatever the kills left, one run completes it
    fs::resize_file(dir / "out" / "disc7" / "track1.iso", 1000);
    std::vector<std::vector<std::string>> kept_before;
    for (int n = 0; n < 20; ++n)
        kept_before.push_back(recorded_in_place(dir / "out" / ("disc" + std::to_string(n))));

    const command_result rerun = run_command(with({"--skip-done", "-q", "3"}, "out"));
    EXPECT_EQ(rerun.exit_status, 0) << rerun.err;
    EXPECT_EQ(output_files(dir / "out"), output_files(dir / "clean"));
    for (int n = 0; n < 20; ++n) {
        const std::string name = "disc" + std::to_string(n);
        const bool data_again = n == 7 || !lists(kept_before[n], "track1.iso");
        EXPECT_NE(rerun.out.find(rerun_console(name, data_again, true)), std::string::npos) << name << rerun.out;
    }
}

// An interrupted run's rerun writes only the tracks the interrupt left
// unfinished, and says which it keeps.
TEST(LibraryKills, RerunAfterAnInterruptWritesOnlyTheUnfinishedTracks)
{
    const fs::path dir = scratch_dir();
    std::string sheet = "FILE \"long.bin\" BINARY\nTRACK 01 MODE1/2352\nINDEX 01 00:00:00\n";
    for (int track = 2; track <= 6; ++track)
        sheet += "TRACK 0" + std::to_string(track) + " AUDIO\nINDEX 01 0" + std::to_string(track - 2) + ":00:10\n";
    write_file(dir / "long.bin", patterned_sectors(0, 10 + 5 * 4500));   // five minutes of noise
    write_file(dir / "long.cue", sheet);
    const fs::path out = dir / "long";

    child_process run({TRACKCARVE_EXE, "-j", "1", (dir / "long.cue").string()}, {}, start_watchdog);
    while (!lists(recorded_in_place(out), "track3.ogg") && !run.has_ended())
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    run.send(SIGINT);
    run.wait();
    const std::vector<std::string> finished = recorded_in_place(out);
    ASSERT_TRUE(lists(finished, "track3.ogg") && !lists(finished, "track6.ogg")) << run.out();

    const command_result rerun = run_tool({dir / "long.cue"});
    std::string expected = console_up_to_toc("long.cue", "long");
    for (int track = 1; track <= 6; ++track) {
        const std::string file = "track" + std::to_string(track) + (track == 1 ? ".iso" : ".ogg");
        expected += (lists(finished, file) ? "Keeping file... " : "Processing file... ") + file + "\n";
    }
    EXPECT_EQ(rerun.out, expected + "Done\n");
    EXPECT_EQ(rerun.exit_status, 0) << rerun.err;
}

// Sheets inside .zip and .7z archives made by bsdtar: each splits into what
// the unpacked sheet gives, beside the archive, and nothing of the archive
// is ever left or written elsewhere, damaged or hostile as it may be.
#include "support.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <csignal>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

namespace {

void bsdtar(const fs::path& dir, const std::vector<std::string>& args)
{
    std::vector<std::string> command{"/usr/bin/bsdtar"};
    command.insert(command.end(), args.begin(), args.end());
    const command_result r = run_command(command, dir);
    ASSERT_EQ(r.exit_status, 0) << "bsdtar (libarchive-tools; scripts/install-deps.sh installs it): " << r.err;
}

// Every file of a split but its owner record and record, NAME.toc and NAME.cue by
// their extensions, and the emulator sheet without its first line (the REM
// SOURCE that names the sheet).
std::map<std::string, std::string> split_files(const fs::path& folder)
{
    std::map<std::string, std::string> files;
    for (const std::string& name : names_in(folder)) {
        std::string bytes = read_file(folder / name);
        const std::string extension = fs::path(name).extension().string();
        if (name == ".trackcarve-owner" || name == ".trackcarve-record")   // the sources and times differ
            continue;
        if (extension == ".cue")
            bytes = bytes.substr(bytes.find('\n') + 1);
        files[name.rfind("track", 0) == 0 ? name : extension] = bytes;
    }
    return files;
}

bool holds_temporaries(const fs::path& dir)
{
    for (const auto& entry : fs::recursive_directory_iterator(dir))
        if (entry.path().filename().string().find("trackcarve-tmp") != std::string::npos)
            return true;
    return false;
}

} // namespace

TEST(Archives, ASheetInAnArchiveSplitsAsUnpackedBesideIt)
{
    struct row {
        const char* name;
        std::string archive;
        std::vector<std::string> make;     // bsdtar's arguments, in the folder of the disc's files
        std::vector<std::string> sheets;   // the output folders, each of one sheet
        std::int64_t unpacked;             // bytes unpacked beside the output: at most the largest file
    };
    const std::string redump = "sample_redump (Track ";
    const std::int64_t one_bin = 1480 * 2352;
    const std::vector<row> rows = {
        {"zip", "game.zip", {"-a", "-cf", "../game.zip", "sample.cue", "sample.bin"}, {"sample"}, one_bin},
        {"7z", "game.7z", {"-a", "-cf", "../game.7z", "sample.cue", "sample.bin"}, {"sample"}, one_bin},
        {"subfolder", "game.zip", {"-s", "|^|Game/|", "-a", "-cf", "../game.zip", "sample.cue", "sample.bin"}, {"sample"}, one_bin},
        {"two sheets", "game.7z", {"-a", "-cf", "../game.7z", "sample.cue", "other.cue", "sample.bin"}, {"sample", "other"}, one_bin},
        {"named ../x", "game.zip", {"-P", "-s", "|^|../|", "-a", "-cf", "../game.zip", "sample.cue", "sample.bin"}, {"sample"}, one_bin},
        // Only the file most tracks read is unpacked; the others are read from the zip.
        {"a BIN a track", "game.zip", {"-a", "-cf", "../game.zip", "sample_redump.cue", redump + "1).bin", redump + "2).bin",
                                       redump + "3).bin", redump + "4).bin"}, {"sample_redump"}, 615 * 2352},
        // From a 7z's one solid block, all are read straight in one pass.
        {"7z, a BIN a track", "game.7z", {"-a", "-cf", "../game.7z", "sample_redump.cue", redump + "1).bin", redump + "2).bin",
                                       redump + "3).bin", redump + "4).bin"}, {"sample_redump"}, 0},
        // Audio before track 1 is looked for in the unpacked BIN, not in a file of that name here.
        {"hidden track", "game.zip", {"-a", "-cf", "../game.zip", "hidden.cue", "sample.bin"}, {"hidden"}, one_bin},
    };
    for (const row& r : rows) {
        const fs::path dir = scratch_dir() / r.name / "in";
        fs::create_directories(dir / "files");
        const fs::path disc = sample_disc_dir(false, r.sheets[0] == "sample_redump");
        for (const auto& file : fs::directory_iterator(disc))
            if (file.is_regular_file())
                fs::copy(file.path(), dir / "files" / file.path().filename());
        if (fs::exists(disc / "sample.cue"))
            fs::copy(disc / "sample.cue", dir / "files" / "other.cue");
        write_file(dir / "files" / "hidden.cue",
                   "FILE \"sample.bin\" BINARY\n TRACK 01 AUDIO\n  INDEX 01 00:03:10\n TRACK 02 AUDIO\n  INDEX 01 00:09:10\n");
        const std::string sheet = "files/" + r.sheets[0] + ".cue";
        ASSERT_EQ(run_tool({"--flac", "-o", "unpacked", sheet}, dir).exit_status, 0);
        bsdtar(dir / "files", r.make);
        fs::remove_all(dir / "files");
        const std::string& archive = r.archive;

        const command_result run = run_tool({"--flac", "--report", "../log.jsonl", archive}, dir);
        EXPECT_EQ(run.exit_status, 0) << r.name << run.err;
        EXPECT_EQ(run.out.find("Unpacking file... ") != std::string::npos, r.unpacked > 0) << run.out;
        for (const std::string& out : r.sheets)
            EXPECT_EQ(split_files(dir / out), split_files(dir / "unpacked" / r.sheets[0])) << r.name << out;
        EXPECT_EQ(names_in(dir).size(), 2 + r.sheets.size()) << r.name << ": only the outputs beside the archive";
        EXPECT_EQ(names_in(dir.parent_path()), (std::vector<std::string>{"in", "log.jsonl"})) << r.name;
        EXPECT_FALSE(holds_temporaries(dir.parent_path())) << r.name;
        const std::string log = read_file(dir.parent_path() / "log.jsonl");
        EXPECT_NE(log.find("\"unpacked_bytes\":" + std::to_string(r.unpacked)), std::string::npos) << r.name << log;
        const command_result again = run_tool({"--flac", "--skip-done", archive}, dir);
        // A hidden track is seen only in the unpacked audio: that split is
        // checked by a run that unpacks it again, and keeps every track.
        if (r.name == std::string("hidden track"))
            EXPECT_NE(again.out.find("Keeping file... track00.flac\n"), std::string::npos) << again.out;
        else
            EXPECT_EQ(again.out.rfind("Skipping " + archive + "/", 0), 0u) << again.out;
    }
}

TEST(Archives, ADamagedArchiveOrOneWithoutASheetIsOneLineAndLeavesNothing)
{
    const fs::path dir = scratch_dir();
    const fs::path disc = sample_disc_dir();
    for (const char* file : {"sample.cue", "sample.bin"})
        fs::copy(disc / file, dir / file);
    bsdtar(dir, {"-a", "-cf", "whole.zip", "sample.cue", "sample.bin"});
    bsdtar(dir, {"-a", "-cf", "whole.7z", "sample.cue", "sample.bin"});
    bsdtar(dir, {"-a", "-cf", "nosheet.zip", "sample.bin"});
    for (const char* whole : {"whole.zip", "whole.7z"}) {
        const std::string bytes = read_file(dir / whole);
        write_file(dir / (std::string("cut") + whole), bytes.substr(0, bytes.size() * 2 / 3));
    }
    fs::remove(dir / "sample.cue");
    fs::remove(dir / "sample.bin");
    struct row {
        const char* archive;
        const char* err;
        const char* option;
    };
    for (const row& r : {row{"cutwhole.zip", "sample.bin: ", "--flac"}, row{"cutwhole.7z", "cutwhole.7z: ", "--flac"},
                         row{"nosheet.zip", "nosheet.zip: the archive holds no CUE sheet (.cue)\n", "--flac"}}) {
        const auto before = snapshot(dir);
        const command_result run = run_tool({r.option, r.archive}, dir);
        EXPECT_EQ(run.exit_status, 1) << r.archive;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_NE(run.err.find(r.err), std::string::npos) << run.err;
        EXPECT_EQ(snapshot(dir), before) << r.archive << ": nothing made, nothing left";
    }
}

// A member read straight whose data are damaged is found as its track is
// written: that track says so, and why, and the run ends in status 1.
TEST(Archives, DamageInAMemberReadStraightIsToldWithItsTrack)
{
    const fs::path dir = scratch_dir();
    for (const auto& file : fs::directory_iterator(sample_disc_dir(false, true)))
        if (file.is_regular_file() && file.path().filename().string().rfind("sample_redump", 0) == 0)
            fs::copy(file.path(), dir / file.path().filename());
    bsdtar(dir, {"-a", "-cf", "game.zip", "sample_redump.cue", "sample_redump (Track 1).bin",
                 "sample_redump (Track 2).bin", "sample_redump (Track 3).bin", "sample_redump (Track 4).bin"});
    std::string zip = read_file(dir / "game.zip");
    // Track 4's BIN, read straight (Track 3's, the largest of those two tracks read, is unpacked).
    const std::size_t track4 = zip.find("sample_redump (Track 4).bin");   // its local header: the data follow
    ASSERT_NE(track4, std::string::npos);
    zip[track4 + 2000] = static_cast<char>(zip[track4 + 2000] ^ 0x55);
    write_file(dir / "game.zip", zip);
    const command_result run = run_tool({"--flac", "-o", "out", "game.zip"}, dir);
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_NE(run.err.find("trackcarve: track4.flac: "), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("the archive is damaged there (sample_redump (Track 4).bin: "), std::string::npos) << run.err;
    EXPECT_FALSE(holds_temporaries(dir));
}

TEST(Archives, WhatAnInterruptedRunUnpackedIsRemovedThenOrByTheNextRun)
{
    for (const int signal_number : {SIGINT, SIGKILL}) {
        const fs::path dir = scratch_dir() / std::to_string(signal_number);
        fs::create_directories(dir / "files");
        // 300 MB of zeros: quick to pack, long enough to unpack to be caught at it.
        write_file(dir / "files" / "big.cue", "FILE \"big.bin\" BINARY\nTRACK 01 MODE1/2352\nINDEX 01 00:00:00\n");
        write_file(dir / "files" / "big.bin", "");
        fs::resize_file(dir / "files" / "big.bin", 128'000 * 2352);
        bsdtar(dir / "files", {"-a", "-cf", "../big.zip", "big.cue", "big.bin"});
        fs::remove_all(dir / "files");
        child_process run({TRACKCARVE_EXE, "big.zip"}, dir, start_watchdog);
        const auto unpacking = [&] {
            for (const std::string& name : names_in(dir))
                if (name.find(".unpacked0.") != std::string::npos)
                    return true;
            return false;
        };
        while (!unpacking() && !run.has_ended())
            usleep(1000);
        ASSERT_TRUE(unpacking()) << "never caught unpacking";
        run.send(signal_number);
        run.wait();
        EXPECT_EQ(holds_temporaries(dir), signal_number == SIGKILL) << signal_number;
        // The next run of that output name takes away what a kill left.
        EXPECT_EQ(run_tool({"big.zip"}, dir).exit_status, 0);
        EXPECT_FALSE(holds_temporaries(dir));
    }
}

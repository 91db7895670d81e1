// Safe outputs, end to end: whatever already sits at an output's final name
// (a hard or symbolic link, a FIFO, the run's own input), however the run
// ends (killed, interrupted, a full disk, a reader that went away), and
// whichever sheet the folder belongs to, a final name holds either what was
// there before or a complete new file, and nothing outside the output folder
// changes.
#include "ogg_pages.h"
#include "support.h"

#include "extract/vorbis_encoder.h"

#include <gtest/gtest.h>
#include <ogg/ogg.h>
#include <vorbis/vorbisfile.h>

#include <fcntl.h>
#include <stdlib.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

// 16-bit stereo noise: what the encoder works hardest on and writes most for.
std::string noise_sectors(std::int64_t count, std::uint32_t seed)
{
    std::string bytes(static_cast<std::size_t>(count * raw_sector_size), '\0');
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        seed = seed * 1664525u + 1013904223u;
        const auto sample = static_cast<std::int16_t>(static_cast<std::int32_t>(seed >> 16) / 4 - 4096);
        bytes[i] = static_cast<char>(sample & 0xFF);
        bytes[i + 1] = static_cast<char>((sample >> 8) & 0xFF);
    }
    return bytes;
}

// An .ogg that a kill or a full disk could not have cut short: it decodes to
// exactly `frames` frames and ends in its end-of-stream page.
::testing::AssertionResult is_complete_ogg(const fs::path& path, std::int64_t frames)
{
    OggVorbis_File vf;
    if (ov_fopen(path.c_str(), &vf) != 0)
        return ::testing::AssertionFailure() << path << " is not an Ogg Vorbis stream";
    const std::int64_t total = ov_pcm_total(&vf, -1);
    std::int64_t decoded = 0;
    char block[8192];
    int section = 0;
    for (long got; (got = ov_read(&vf, block, sizeof block, 0, 2, 1, &section)) > 0;)
        decoded += got / 4;
    ov_clear(&vf);
    if (total != frames || decoded != frames)
        return ::testing::AssertionFailure() << path << ": " << total << " frames by its last granule, " << decoded
                                             << " decoded, " << frames << " expected";
    if (!ends_in_one_end_of_stream_page(read_file(path)))
        return ::testing::AssertionFailure() << path << " does not end in its end-of-stream page";
    return ::testing::AssertionSuccess();
}

std::vector<std::string> temporaries_in(const fs::path& dir)
{
    std::vector<std::string> names = names_in(dir);
    std::erase_if(names, [](const std::string& name) { return name.find(".trackcarve-tmp") == std::string::npos; });
    return names;
}

void expect_small_disc_outputs(const fs::path& out)
{
    EXPECT_EQ(read_file(out / "disc.toc"), "Leadin\r\ntrack1.iso 00:00:10\r\ntrack2.ogg 00:00:20\r\nLeadout\r\n");
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(out / "track1.iso")));
    EXPECT_TRUE(read_file(out / "track1.iso") == patterned_user_data(0, 10)) << "track1.iso is not the BIN's track 1";
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(out / "track2.ogg")));
    EXPECT_TRUE(is_complete_ogg(out / "track2.ogg", 20 * 588));
    EXPECT_EQ(read_file(out / "disc.cue").substr(0, 23), "REM SOURCE \"disc.cue\"\r\n");
}

// Waits until the run is writing `name`: its temporary has grown past the
// headers (or, for a run that wrote in place, the final name holds a size
// other than `earlier_size`). False after 60 s.
bool wait_until_writing(child_process& run, const fs::path& out, const std::string& name,
                        std::uintmax_t earlier_size)
{
    const fs::path temporary = out / ("." + name + "." + std::to_string(run.pid()) + ".trackcarve-tmp");
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (std::chrono::steady_clock::now() < deadline) {
        std::error_code error;
        if (fs::file_size(temporary, error) >= 16384 && !error)
            return true;
        const std::uintmax_t size = fs::file_size(out / name, error);
        if (!error && size >= 16384 && size != earlier_size)
            return true;
        if (run.has_ended())
            return false;
        std::this_thread::sleep_for(2ms);
    }
    return false;
}

// ---------------------------------------------------------------------------
// What sits at a final name before the run.

// A hard link or a symbolic link to a file outside the folder, or a FIFO,
// at every final name: each is replaced, never written through or opened.
struct planted_name {
    std::string name;
    void (*plant)(const fs::path& victim, const fs::path& at);
};

const planted_name planted_names[] = {
    {"HardLinksAreReplacedNotWrittenThrough",
     [](const fs::path& victim, const fs::path& at) { fs::create_hard_link(victim, at); }},
    {"SymbolicLinksAreReplaced", [](const fs::path&, const fs::path& at) { fs::create_symlink("../victim", at); }},
    {"FifosDoNotBlock", [](const fs::path&, const fs::path& at) { ASSERT_EQ(mkfifo(at.c_str(), 0600), 0); }},
};

void PrintTo(const planted_name& row, std::ostream* out) { *out << row.name; }

class SafeOutputLinks : public testing::TestWithParam<planted_name> {};

TEST_P(SafeOutputLinks, AtEveryFinalName)
{
    const fs::path dir = scratch_dir();
    const fs::path cue = write_small_disc(dir);
    fs::create_directory(dir / "disc");
    write_file(dir / "victim", "must survive the run");
    for (const char* name : {"disc.toc", "track1.iso", "track2.ogg", "disc.cue"})
        GetParam().plant(dir / "victim", dir / "disc" / name);

    const command_result r = run_command({TRACKCARVE_EXE, cue.string()}, {}, start_watchdog);
    ASSERT_NE(r.exit_status, -1) << "killed: no end within " << watchdog_seconds << " s";
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(read_file(dir / "victim"), "must survive the run");
    EXPECT_EQ(fs::hard_link_count(dir / "victim"), 1u);
    expect_small_disc_outputs(dir / "disc");
}

INSTANTIATE_TEST_SUITE_P(Planted, SafeOutputLinks, testing::ValuesIn(planted_names),
                         [](const testing::TestParamInfo<planted_name>& row) { return row.param.name; });

// cp -al keeps an earlier folder as hard links to the same files; a rerun
// over a changed BIN must leave that copy as it was.
TEST(SafeOutputHardLinkedCopy, SurvivesARerun)
{
    const fs::path dir = scratch_dir();
    const fs::path cue = write_small_disc(dir);
    ASSERT_EQ(run_tool({cue}).exit_status, 0);
    fs::create_directory(dir / "kept");
    std::map<std::string, std::string> kept;
    for (const fs::directory_entry& entry : fs::directory_iterator(dir / "disc")) {
        fs::create_hard_link(entry.path(), dir / "kept" / entry.path().filename());
        kept[entry.path().filename().string()] = read_file(entry.path());
    }
    ASSERT_EQ(kept.size(), 6u);

    write_file(dir / "disc.bin", patterned_sectors(1000, 30));
    const command_result r = run_tool({cue});
    EXPECT_EQ(r.exit_status, 0) << r.err;
    for (const auto& [name, bytes] : kept)
        EXPECT_TRUE(read_file(dir / "kept" / name) == bytes) << "the rerun wrote through to the kept " << name;
    EXPECT_TRUE(read_file(dir / "disc" / "track1.iso") == patterned_user_data(1000, 10));
}

// An archive unpacked with disc -> . would make the output folder the
// sheet's own, where a track file's final name may be the BIN itself: the
// link is not followed. A hard link of the BIN at that name is not replaced.
TEST(SafeOutputInputs, OutputFolderThatIsTheSheetsOwnFolder)
{
    const fs::path dir = scratch_dir();
    const std::string bin = patterned_sectors(0, 30);
    const std::string sheet = "FILE \"track1.iso\" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n";
    write_file(dir / "track1.iso", bin);
    write_file(dir / "disc.cue", sheet);
    fs::create_directory_symlink(".", dir / "disc");

    const command_result r = run_tool({dir / "disc.cue"});
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(r.out, "Open file disc.cue\n\nCreating directory: disc\n\n");
    EXPECT_EQ(r.err, "trackcarve: " + (dir / "disc").string() +
                         " is a symbolic link; nothing was written through it (-o DIR or --full-names gives this "
                         "sheet a folder of its own)\n");
    EXPECT_TRUE(read_file(dir / "track1.iso") == bin) << "the run replaced its own input BIN";
    EXPECT_EQ(read_file(dir / "disc.cue"), sheet);

    fs::remove(dir / "disc");
    fs::create_directory(dir / "disc");
    fs::create_hard_link(dir / "track1.iso", dir / "disc" / "track1.iso");
    const command_result linked = run_tool({dir / "disc.cue"});
    EXPECT_EQ(linked.exit_status, 1);
    EXPECT_EQ(linked.err, "trackcarve: cannot create " + (dir / "disc" / "track1.iso").string() +
                              ": the name holds one of this run's input files\n"
                              "trackcarve: disc.cue not written: track1.iso could not be written\n");
    EXPECT_TRUE(read_file(dir / "track1.iso") == bin) << "the run replaced its own input BIN";
}

// ---------------------------------------------------------------------------
// Two sheets whose names give one folder.

TEST(SafeOutputOwner, SecondSheetWithTheSameFolderTouchesNothing)
{
    const fs::path dir = scratch_dir();
    const std::string disc1 = "Final Fantasy VII International (Disc 1).cue";
    const std::string disc2 = "Final Fantasy VII International (Disc 2).cue";
    const std::string folder = "FinalFantasyVIIInternatio";
    write_file(dir / "disc1.bin", patterned_sectors(0, 40));
    write_file(dir / disc1, "FILE \"disc1.bin\" BINARY\nTRACK 01 MODE1/2352\nINDEX 01 00:00:00\n"
                            "TRACK 02 AUDIO\nINDEX 01 00:00:10\nTRACK 03 AUDIO\nINDEX 01 00:00:30\n");
    write_file(dir / "disc2.bin", patterned_sectors(5000, 30));
    write_file(dir / disc2, "FILE \"disc2.bin\" BINARY\nTRACK 01 MODE1/2352\nINDEX 01 00:00:00\n"
                            "TRACK 02 AUDIO\nINDEX 01 00:00:20\n");

    const command_result first = run_tool({dir / disc1});
    ASSERT_EQ(first.exit_status, 0) << first.err;
    ASSERT_EQ(read_file(dir / folder / ".trackcarve-owner"), disc1);
    // As an earlier version left it: only its emulator sheet says whose it is.
    fs::remove(dir / folder / ".trackcarve-owner");
    fs::remove(dir / folder / ".trackcarve-record");
    const auto before = snapshot(dir / folder);
    ASSERT_EQ(before.size(), 5u);

    const command_result second = run_tool({dir / disc2});
    EXPECT_EQ(second.out, "Open file " + disc2 + "\n\nCreating directory: " + folder + "\n\n");
    EXPECT_EQ(second.err, "trackcarve: " + (dir / folder).string() + " holds the tracks of another sheet, \"" + disc1 +
                              "\"; nothing was overwritten (-o DIR or --full-names gives this sheet a folder of its "
                              "own)\n");
    EXPECT_EQ(second.exit_status, 1);
    EXPECT_EQ(snapshot(dir / folder), before);

    // The sheet that owns the folder may run again, and records itself; a
    // folder with neither the record nor an emulator sheet belongs to no sheet.
    EXPECT_EQ(run_tool({dir / disc1}).exit_status, 0);
    EXPECT_EQ(read_file(dir / folder / ".trackcarve-owner"), disc1);
    fs::remove(dir / folder / (folder + ".cue"));
    fs::remove(dir / folder / ".trackcarve-owner");
    const command_result unowned = run_tool({dir / disc2});
    EXPECT_EQ(unowned.exit_status, 0) << unowned.err;
    EXPECT_TRUE(read_file(dir / folder / "track1.iso") == patterned_user_data(5000, 20));
}

// A run waits, silent, while another process holds the folder, then goes on.
TEST(SafeOutputOwner, RunWaitsForTheFolderLock)
{
    const fs::path dir = scratch_dir();
    const fs::path cue = write_small_disc(dir);
    fs::create_directory(dir / "disc");
    folder_lock held = lock_folder((dir / "disc").c_str(), ".trackcarve-lock");
    ASSERT_TRUE(held.held());
    child_process run({TRACKCARVE_EXE, cue.string()});
    std::this_thread::sleep_for(500ms);
    EXPECT_FALSE(fs::exists(dir / "disc" / "disc.toc")) << "written while another process held the folder";
    held = folder_lock{};
    EXPECT_EQ(run.wait(), 0) << run.err();
    EXPECT_EQ(run.out(), "Open file disc.cue\n\nCreating directory: disc\n\nCreating file: disc.toc\n\n"
                         "Processing file... track1.iso\nProcessing file... track2.ogg\nDone\n");
    expect_small_disc_outputs(dir / "disc");
}

// Two runs of one sheet at once: the second waits, then writes every file again.
TEST(SafeOutputOwner, TwoRunsOfOneSheetAtOnceBothSucceed)
{
    const fs::path dir = scratch_dir();
    const fs::path cue = write_small_disc(dir);
    child_process first({TRACKCARVE_EXE, cue.string()});
    child_process second({TRACKCARVE_EXE, cue.string()});
    EXPECT_EQ(first.wait(), 0) << first.err();
    EXPECT_EQ(second.wait(), 0) << second.err();
    EXPECT_TRUE(temporaries_in(dir / "disc").empty());
    expect_small_disc_outputs(dir / "disc");
}

// ---------------------------------------------------------------------------
// A run that ends before it is done.

// 10 data sectors, then three minutes of noise: a second or two of encoding.
constexpr std::int64_t long_audio_sectors = 3 * 60 * 75;

fs::path write_long_disc(const fs::path& dir)
{
    write_file(dir / "disc.bin", patterned_sectors(0, 10) + noise_sectors(long_audio_sectors, 7));
    write_file(dir / "disc.cue", small_disc_sheet());
    return dir / "disc.cue";
}

// Each final name is absent or holds a complete file.
void expect_no_partial_file(const fs::path& out)
{
    if (fs::exists(fs::symlink_status(out / "disc.toc"))) {
        EXPECT_EQ(read_file(out / "disc.toc"), "Leadin\r\ntrack1.iso 00:00:10\r\ntrack2.ogg 03:00:00\r\nLeadout\r\n");
    }
    if (fs::exists(fs::symlink_status(out / "track1.iso"))) {
        EXPECT_TRUE(read_file(out / "track1.iso") == patterned_user_data(0, 10)) << "a partial track1.iso";
    }
    if (fs::exists(fs::symlink_status(out / "track2.ogg"))) {
        EXPECT_TRUE(is_complete_ogg(out / "track2.ogg", long_audio_sectors * 588));
    }
}

class SafeOutputKill : public testing::TestWithParam<int> {};

TEST_P(SafeOutputKill, RunEndedMidTrackLeavesNoPartialFile)
{
    const int signal_number = GetParam();
    const fs::path dir = scratch_dir();
    const fs::path cue = write_long_disc(dir);
    const fs::path out = dir / "disc";

    child_process run({TRACKCARVE_EXE, cue.string()}, {}, start_watchdog);
    ASSERT_TRUE(wait_until_writing(run, out, "track2.ogg", 0)) << "track2.ogg was never written\n" << run.err();
    run.send(signal_number);
    const int status = run.wait();
    ASSERT_TRUE(WIFSIGNALED(status)) << "exit status " << WEXITSTATUS(status) << "\n" << run.err();
    EXPECT_EQ(WTERMSIG(status), signal_number) << "not ended by the signal it was sent";
    EXPECT_FALSE(fs::exists(fs::symlink_status(out / "track2.ogg"))) << "track2.ogg is in place mid-track";
    expect_no_partial_file(out);
    const std::vector<std::string> left = temporaries_in(out);
    if (signal_number == SIGKILL)
        EXPECT_EQ(left.size(), 1u) << "a kill leaves the temporary in flight";
    else
        EXPECT_TRUE(left.empty()) << left.front() << " left by an interrupted run";
    // An interrupt writes out the dialogue so far, though it goes to a file,
    // and says what is left to do.
    if (signal_number != SIGKILL) {
        EXPECT_EQ(run.out(), full_console("disc.cue", "disc").substr(0, full_console("disc.cue", "disc").rfind("Done")));
        EXPECT_EQ(run.err(), "trackcarve: interrupted with 1 of 2 tracks complete; run the same command again to "
                             "finish\n");
    }

    // The next run in the folder removes what the kill left.
    const command_result next = run_tool({"-q", "2", cue.string()});
    EXPECT_EQ(next.exit_status, 0) << next.err;
    EXPECT_TRUE(temporaries_in(out).empty());
    expect_no_partial_file(out);
    EXPECT_TRUE(fs::exists(out / "track2.ogg"));
}

INSTANTIATE_TEST_SUITE_P(Signals, SafeOutputKill, testing::Values(SIGKILL, SIGINT, SIGTERM),
                         [](const testing::TestParamInfo<int>& s) {
                             return std::string(s.param == SIGKILL ? "Kill" : s.param == SIGINT ? "Int" : "Term");
                         });

// The interrupt handler removes the temporaries on a thread of its own while
// the writers go on until the process ends: one that opens its file in that
// moment must not leave a temporary behind.
TEST(SafeOutputInterrupt, NoTemporaryIsCreatedOnceTheInterruptRemovedThem)
{
    const fs::path dir = scratch_dir();
    fs::create_directory(dir / "disc");
    run_paths paths{};
    ASSERT_TRUE(derive_paths((dir / "disc.cue").c_str(), paths));
    temporary_files temporaries;
    const output_folder folder{&paths, &temporaries, {}};
    output_file in_flight;
    ASSERT_EQ(open_output_file(in_flight, folder, "track1.iso"), 0);
    EXPECT_EQ(temporaries_in(dir / "disc").size(), 1u);

    remove_temporaries(temporaries);
    EXPECT_TRUE(temporaries_in(dir / "disc").empty());
    output_file late;
    EXPECT_EQ(open_output_file(late, folder, "track2.ogg"), EINTR);
    EXPECT_TRUE(temporaries_in(dir / "disc").empty()) << "a temporary made after the removal outlives the run";
}

// A signal the caller had blocked before the watch stays blocked after it.
TEST(SafeOutputInterrupt, WatchPutsBackTheSignalMaskItFound)
{
    sigset_t mask;
    sigemptyset(&mask);
    sigaddset(&mask, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &mask, nullptr);
    { const interrupt_watch watch([] {}); }
    pthread_sigmask(SIG_SETMASK, nullptr, &mask);
    EXPECT_EQ(sigismember(&mask, SIGHUP), 1) << "the watch unblocked SIGHUP";
    EXPECT_EQ(sigismember(&mask, SIGINT), 0) << "the watch left SIGINT blocked";
}

TEST(SafeOutputKillRerun, KilledRerunKeepsTheEarlierFiles)
{
    const fs::path dir = scratch_dir();
    const fs::path cue = write_long_disc(dir);
    const fs::path out = dir / "disc";
    ASSERT_EQ(run_tool({cue}).exit_status, 0);
    std::map<std::string, std::string> earlier;
    for (const fs::directory_entry& entry : fs::directory_iterator(out))
        earlier[entry.path().filename().string()] = read_file(entry.path());
    ASSERT_EQ(earlier.count("track2.ogg"), 1u);

    // Another quality: the rerun writes track2.ogg again rather than keep it.
    child_process run({TRACKCARVE_EXE, "-q", "2", cue.string()}, {}, start_watchdog);
    ASSERT_TRUE(wait_until_writing(run, out, "track2.ogg", earlier["track2.ogg"].size()))
        << "track2.ogg was never rewritten\n" << run.err();
    run.send(SIGKILL);
    run.wait();
    for (const auto& [name, bytes] : earlier) {
        ASSERT_TRUE(fs::exists(fs::symlink_status(out / name))) << name << " is gone";
        if (read_file(out / name) != bytes) {
            EXPECT_NE(name, "track2.ogg") << "track2.ogg changed before it was complete";
        }
    }
    expect_no_partial_file(out);

    const command_result next = run_tool({cue});
    EXPECT_EQ(next.exit_status, 0) << next.err;
    EXPECT_TRUE(temporaries_in(out).empty());
    expect_no_partial_file(out);
}

// ---------------------------------------------------------------------------
// A disk that fills up: a 64 KB file system where this system lets the test
// mount one, else a 64 KB file size limit on the run.

class SafeOutputFullDisk : public testing::Test {
protected:
    void TearDown() override
    {
        if (mounted_)
            umount2(mount_point_.c_str(), MNT_DETACH);
    }
    // Makes dir/disc a full-up-at-64-KB folder; false: use the limit instead.
    bool mount_small_file_system(const fs::path& dir)
    {
        mount_point_ = dir / "disc";
        fs::create_directory(mount_point_);
        mounted_ = mount("tmpfs", mount_point_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=64k,mode=0755") == 0;
        mount_error_ = errno;
        return mounted_;
    }
    fs::path mount_point_;
    bool mounted_ = false;
    int mount_error_ = 0;
};

TEST_F(SafeOutputFullDisk, NoTruncatedFileAndTheEncoderStopsAtTheFirstFailedWrite)
{
    // A mount left by a crashed run of this test would stop the scratch
    // folder's removal.
    umount2((fs::path(TEST_SCRATCH_DIR) / "SafeOutputFullDisk.NoTruncatedFileAndTheEncoderStopsAtTheFirstFailedWrite" /
             "disc")
                .c_str(),
            MNT_DETACH);
    const fs::path dir = scratch_dir();
    // Track 1: 60 data sectors, 120 KB of .iso. Track 2: 10 s of noise read
    // 300 times, 50 minutes that take the encoder far longer than the
    // watchdog allows, were it to encode on after the disk is full.
    write_file(dir / "disc.bin", patterned_sectors(0, 60));
    write_file(dir / "noise.bin", noise_sectors(750, 3));
    std::string sheet = "FILE \"disc.bin\" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n"
                        "FILE \"noise.bin\" BINARY\n  TRACK 02 AUDIO\n    INDEX 01 00:00:00\n";
    for (int i = 1; i < 300; ++i)
        sheet += "FILE \"noise.bin\" BINARY\n";
    write_file(dir / "disc.cue", sheet);

    const bool mounted = mount_small_file_system(dir);
    std::function<void()> in_child = start_watchdog;
    std::string error_text = std::strerror(ENOSPC);
    if (mounted) {
        std::cout << "[ full disk ] a 64 KB tmpfs mounted on " << mount_point_ << "\n";
    } else {
        std::cout << "[ full disk ] mount refused (" << std::strerror(mount_error_)
                  << "): a 64 KB RLIMIT_FSIZE on the run instead\n";
        error_text = std::strerror(EFBIG);
        in_child = [] {
            start_watchdog();
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{64 << 10, 64 << 10};
            setrlimit(RLIMIT_FSIZE, &limit);
        };
    }
    RecordProperty("full_disk_route", mounted ? "tmpfs" : "RLIMIT_FSIZE");

    child_process run({TRACKCARVE_EXE, (dir / "disc.cue").string()}, {}, in_child);
    const int status = run.wait();
    ASSERT_TRUE(WIFEXITED(status)) << "killed: the run went on for " << watchdog_seconds << " s\n" << run.err();
    EXPECT_EQ(WEXITSTATUS(status), 1);
    const fs::path out = dir / "disc";
    EXPECT_EQ(run.err(), "trackcarve: cannot write " + (out / "track1.iso").string() + ": " + error_text + "\n" +
                             "trackcarve: cannot write " + (out / "track2.ogg").string() + ": " + error_text + "\n" +
                             "trackcarve: disc.cue not written: track1.iso could not be written\n");
    EXPECT_EQ(names_in(out), (std::vector<std::string>{".trackcarve-owner", "disc.toc"}))
        << "a truncated or empty file under a final name";
    EXPECT_EQ(read_file(out / "disc.toc"), "Leadin\r\ntrack1.iso 00:00:60\r\ntrack2.ogg 50:00:00\r\nLeadout\r\n");
}

// The same, without a clock: once a page cannot be written, the encoder
// reads no more of the track.
struct failing_sink {
    std::size_t room;              // bytes the "disk" takes before it is full
    std::size_t pcm_bytes_read = 0;
    std::size_t pcm_read_at_failure = 0;
    bool failed = false;
};

TEST(SafeOutputEncoder, ReadsNothingMoreAfterTheFirstFailedWrite)
{
    for (const std::size_t room : {std::size_t{0}, std::size_t{5000}, std::size_t{60000}}) {
        failing_sink sink{room};
        const cookie_io_functions_t io{
            nullptr,
            [](void* cookie, const char*, std::size_t size) -> ssize_t {
                auto& s = *static_cast<failing_sink*>(cookie);
                if (size > s.room) {
                    if (!s.failed)
                        s.pcm_read_at_failure = s.pcm_bytes_read;
                    s.failed = true;
                    errno = ENOSPC;
                    return -1;
                }
                s.room -= size;
                return static_cast<ssize_t>(size);
            },
            nullptr, nullptr};
        file_stream ogg(fopencookie(&sink, "w", io));
        ASSERT_TRUE(ogg);
        const pcm_source source{[](void* context, unsigned char* buffer, std::size_t size) {
                                    auto& s = *static_cast<failing_sink*>(context);
                                    for (std::size_t i = 0; i < size; ++i) {
                                        const std::size_t at = s.pcm_bytes_read + i;
                                        buffer[i] = static_cast<unsigned char>(at * 2654435761u >> 13);
                                    }
                                    s.pcm_bytes_read += size;
                                    return size;
                                },
                                &sink};
        unsigned char buffer[audio_read_size];
        // Ten minutes of audio: far more than any of the rooms holds.
        pcm_reader input{source, std::int64_t{600} * 75 * raw_sector_size, buffer};
        const audio_result result =
            encode_vorbis_track(input, encoder_settings{default_vorbis_quality, 1, nullptr}, ogg.get());
        EXPECT_TRUE(sink.failed) << room;
        EXPECT_EQ(result.write_error, ENOSPC) << room;
        EXPECT_EQ(sink.pcm_bytes_read, sink.pcm_read_at_failure) << "read on after the failed write, room " << room;
    }
}

// ---------------------------------------------------------------------------
// A reader that went away: trackcarve d.cue | head -1.

TEST(SafeOutputPipe, ClosedStandardOutputStillWritesEveryTrack)
{
    const fs::path dir = scratch_dir();
    // A BIN that ends in part of a sector: a report before the first track.
    write_file(dir / "disc.bin", patterned_sectors(0, 30) + std::string(1000, 'x'));
    write_file(dir / "disc.cue", small_disc_sheet());

    int pipe_ends[2];
    ASSERT_EQ(pipe(pipe_ends), 0);
    close(pipe_ends[0]);   // no reader, from the first byte on
    const int write_end = pipe_ends[1];
    child_process run({TRACKCARVE_EXE, (dir / "disc.cue").string()}, {}, [write_end] {
        start_watchdog();
        dup2(write_end, 1);
    });
    close(write_end);
    const int status = run.wait();
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_EQ(run.err(), "trackcarve: the BIN ends in 1000 bytes of an incomplete sector, which no track takes\n"
                         "trackcarve: cannot write to standard output: Broken pipe\n");
    expect_small_disc_outputs(dir / "disc");
}

// trackcarve d.cue >&- : with descriptor 1 closed, the first file the run
// opens would become its standard output, and the dialogue would land in
// it. Standard error on a terminal makes the progress line flush standard
// output every 250 ms while the long track's temporary is open (-j 1).
TEST(SafeOutputPipe, ClosedStandardOutputDescriptorGetsNoFileOfTheRun)
{
    const fs::path dir = scratch_dir();
    const fs::path cue = write_long_disc(dir);
    pseudo_terminal terminal;
    child_process run({TRACKCARVE_EXE, "-j", "1", cue.string()}, {}, [&terminal] {
        start_watchdog();
        const int err = open(terminal.name().c_str(), O_WRONLY | O_NOCTTY);
        dup2(err, 2);
        close(err);
        close(1);
    });
    // Drain the terminal so the run never waits on it.
    const std::string shown = terminal.read_all();
    const int status = run.wait();
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_NE(shown.find("cannot write to standard output: Bad file descriptor"), std::string::npos) << shown;
    EXPECT_NE(shown.find(" elapsed, "), std::string::npos) << "no progress line: the case is not staged";
    const fs::path out = dir / "disc";
    EXPECT_EQ(read_file(out / "disc.toc"), "Leadin\r\ntrack1.iso 00:00:10\r\ntrack2.ogg 03:00:00\r\nLeadout\r\n");
    EXPECT_TRUE(read_file(out / "track1.iso") == patterned_user_data(0, 10));
    EXPECT_TRUE(is_complete_ogg(out / "track2.ogg", long_audio_sectors * 588));
    EXPECT_EQ(read_file(out / "disc.cue").substr(0, 23), "REM SOURCE \"disc.cue\"\r\n");
}

} // namespace

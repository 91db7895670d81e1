#include "support.h"

#include "extract/output_names.h"

#include <gtest/gtest.h>
#include <vorbis/vorbisfile.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

fs::path scratch_dir()
{
    const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = info ? std::string(info->test_suite_name()) + "." + info->name() : "no_test";
    for (char& c : name)
        if (c == '/')
            c = '_';
    const fs::path dir = fs::path(TEST_SCRATCH_DIR) / name;
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

void write_file(const fs::path& path, const std::string& bytes)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!file)
        throw std::runtime_error("cannot write " + path.string());
}

std::string read_file(const fs::path& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        throw std::runtime_error("cannot read " + path.string());
    return std::string(std::istreambuf_iterator<char>(file), {});
}

command_result run_command(const std::vector<std::string>& args, const fs::path& cwd,
                           const std::function<void()>& in_child)
{
    // Named for the process and the call, so that runs on two threads keep apart.
    static std::atomic<unsigned> calls{0};
    const std::string tag = std::to_string(getpid()) + "_" + std::to_string(calls++);
    const fs::path out_path = fs::temp_directory_path() / ("tc_out_" + tag);
    const fs::path err_path = fs::temp_directory_path() / ("tc_err_" + tag);
    const pid_t pid = fork();
    if (pid == 0) {
        const int in = open("/dev/null", O_RDONLY);
        const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        if (!cwd.empty() && chdir(cwd.c_str()) != 0)
            _exit(126);
        if (in_child)
            in_child();
        std::vector<char*> argv;
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    command_result result;
    result.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = read_file(out_path);
    result.err = read_file(err_path);
    fs::remove(out_path);
    fs::remove(err_path);
    return result;
}

command_result run_trackcarve(const fs::path& cue, const fs::path& cwd)
{
    return run_command({TRACKCARVE_EXE, cue.string()}, cwd);
}

fs::path sample_disc_dir(bool mode2, bool redump)
{
    // The generator is deterministic, so test binaries running side by side
    // may share one copy: each makes its own and the first rename wins.
    const fs::path dir = fs::path(TEST_SCRATCH_DIR) / "sample_disc" /
                         (std::string(mode2 ? "mode2" : "mode1") + (redump ? "-redump" : ""));
    if (fs::exists(dir))
        return dir;
    const fs::path staging = dir.string() + ".tmp" + std::to_string(getpid());
    std::vector<std::string> args{MAKE_SAMPLE_DISC_EXE, staging.string()};
    if (mode2)
        args.push_back("--mode2");
    if (redump)
        args.push_back("--redump");
    const command_result made = run_command(args);
    if (made.exit_status != 0)
        throw std::runtime_error("make_sample_disc failed: " + made.err);
    std::error_code ignored;
    fs::rename(staging, dir, ignored);
    fs::remove_all(staging, ignored);
    return dir;
}

unsigned char pattern_byte(std::int64_t sector, int offset)
{
    return static_cast<unsigned char>((sector * 131 + offset * 7 + offset / 256) & 0xFF);
}

std::string patterned_sectors(std::int64_t first_sector, std::int64_t count)
{
    std::string bytes(static_cast<std::size_t>(count * 2352), '\0');
    for (std::int64_t s = 0; s < count; ++s)
        for (int i = 0; i < 2352; ++i)
            bytes[static_cast<std::size_t>(s * 2352 + i)] = static_cast<char>(pattern_byte(first_sector + s, i));
    return bytes;
}

captured_console::captured_console()
{
    c.out = open_memstream(&out_text_, &out_size_);
    c.err = open_memstream(&err_text_, &err_size_);
    if (c.out == nullptr || c.err == nullptr)
        throw std::runtime_error("open_memstream failed");
}

captured_console::~captured_console()
{
    std::fclose(c.out);
    std::fclose(c.err);
    std::free(out_text_);
    std::free(err_text_);
}

std::string captured_console::out()
{
    std::fflush(c.out);
    return std::string(out_text_, out_size_);
}

std::string captured_console::err()
{
    std::fflush(c.err);
    return std::string(err_text_, err_size_);
}

void track_fixture::SetUp()
{
    dir = scratch_dir();
    const std::string cue = (dir / "disc.cue").string();
    ASSERT_TRUE(derive_paths(cue.c_str(), paths));
    folder.paths = &paths;
    folder.temporaries = &temporaries;
    writer.folder = &folder;
    writer.serials = &serials;
    writer.bin.bin = &bin;
    fs::create_directory(dir / "disc");
}

void track_fixture::use_bin(const std::string& bytes)
{
    write_file(dir / "disc.bin", bytes);
    bin.parts = {bin_part{(dir / "disc.bin").string(), 0, static_cast<std::int64_t>(bytes.size())}};
    bin.size_bytes = static_cast<std::int64_t>(bytes.size());
}

fs::path track_fixture::extract(const track_span& track, std::int32_t number)
{
    captured_console captured;
    std::atomic<std::int64_t> progress{0};
    const track_outcome outcome = extract_track(captured.c, writer, number, track, progress);
    clean = outcome.written && (outcome.complete || track.length_sectors <= 0);
    console = captured.out();
    diagnostics = captured.err();
    return dir / "disc" / name_track_file(number, track.is_audio != 0, writer.format).text;
}

decoded_stream decode_ogg(const fs::path& path)
{
    decoded_stream d;
    OggVorbis_File vf;
    if (ov_fopen(path.c_str(), &vf) != 0) {
        ADD_FAILURE() << path << " is not an Ogg Vorbis stream";
        return d;
    }
    const vorbis_info* info = ov_info(&vf, -1);
    d.channels = info->channels;
    d.rate = info->rate;
    const vorbis_comment* comment = ov_comment(&vf, -1);
    for (int i = 0; i < comment->comments; ++i)
        d.comments.emplace_back(comment->user_comments[i]);
    d.pcm_total = ov_pcm_total(&vf, -1);
    char block[8192];
    int section = 0;
    long got;
    while ((got = ov_read(&vf, block, sizeof block, 0, 2, 1, &section)) > 0) {
        for (long i = 0; i + 1 < got; i += 2)
            d.samples.push_back(static_cast<std::int16_t>(
                static_cast<unsigned char>(block[i]) | static_cast<unsigned char>(block[i + 1]) << 8));
    }
    ov_clear(&vf);
    return d;
}

void expect_ogginfo_accepts(const fs::path& path)
{
    const command_result r = run_command({"/usr/bin/ogginfo", path.string()});
    EXPECT_EQ(r.exit_status, 0) << r.out << r.err;
    const std::string report = r.out + r.err;
    EXPECT_EQ(report.find("WARNING"), std::string::npos) << report;
    EXPECT_EQ(report.find("ERROR"), std::string::npos) << report;
}

std::vector<std::int64_t> mednafen_lbas(const fs::path& cue)
{
    const fs::path home = fs::temp_directory_path() / ("tc_mednafen_" + std::to_string(getpid()));
    fs::remove_all(home);
    fs::create_directories(home);
    // Not on root's PATH: Debian installs it in /usr/games.
    const command_result r = run_command({"/usr/bin/env", "HOME=" + home.string(), "SDL_VIDEODRIVER=dummy",
                                          "SDL_AUDIODRIVER=dummy", "/usr/bin/timeout", "20", "/usr/games/mednafen",
                                          "-force_module", "pce", cue.filename().string()},
                                         cue.parent_path());
    fs::remove_all(home);
    EXPECT_NE(r.exit_status, 127) << "mednafen is not installed (scripts/install-deps.sh installs it)";
    EXPECT_NE(r.exit_status, 124) << "mednafen did not stop";
    // "    Track  2, MSF: 00:06:36, LBA:    336  AUDIO" and "    Leadout:   1251  AUDIO"
    std::vector<std::int64_t> lbas;
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t track = line.find(", LBA:");
        const std::size_t leadout = line.find("Leadout:");
        if (track != std::string::npos)
            lbas.push_back(std::stoll(line.substr(track + 6)));
        else if (leadout != std::string::npos)
            lbas.push_back(std::stoll(line.substr(leadout + 8)));
    }
    EXPECT_FALSE(lbas.empty()) << "mednafen printed no table of contents:\n" << r.out << r.err;
    return lbas;
}

#include "support.h"

#include "output/output_names.h"

#include <gtest/gtest.h>
#include <vorbis/vorbisfile.h>

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
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

std::vector<std::string> names_in(const fs::path& dir)
{
    std::vector<std::string> names;
    std::error_code ignored;
    for (const fs::directory_entry& entry : fs::directory_iterator(dir, ignored))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string crlf_lines(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines)
        text += line + "\r\n";
    return text;
}

void start_watchdog() { alarm(watchdog_seconds); }

child_process::child_process(const std::vector<std::string>& args, const fs::path& cwd,
                             const std::function<void()>& in_child)
{
    // Named after the test process and this object, so no two children share them.
    const std::string self = std::to_string(getpid()) + "_" + std::to_string(reinterpret_cast<std::uintptr_t>(this));
    out_path_ = fs::temp_directory_path() / ("tc_child_" + self + ".out");
    err_path_ = fs::temp_directory_path() / ("tc_child_" + self + ".err");
    pid_ = fork();
    if (pid_ != 0)
        return;
    const int in = open("/dev/null", O_RDONLY);
    const int out = open(out_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = open(err_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    for (const int s : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGALRM})
        std::signal(s, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
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

child_process::~child_process()
{
    if (status_ < 0 && pid_ > 0) {
        kill(pid_, SIGKILL);
        wait();
    }
    std::error_code ignored;
    fs::remove(out_path_, ignored);
    fs::remove(err_path_, ignored);
}

void child_process::send(int signal_number) { kill(pid_, signal_number); }

bool child_process::has_ended()
{
    int status = 0;
    if (status_ < 0 && waitpid(pid_, &status, WNOHANG) == pid_)
        status_ = status;
    return status_ >= 0;
}

int child_process::wait()
{
    if (status_ < 0) {
        int status = 0;
        waitpid(pid_, &status, 0);
        status_ = status;
    }
    return status_;
}

std::string child_process::out() { return read_file(out_path_); }

std::string child_process::err() { return read_file(err_path_); }

command_result run_command(const std::vector<std::string>& args, const fs::path& cwd,
                           const std::function<void()>& in_child)
{
    child_process child(args, cwd, in_child);
    const int status = child.wait();
    return command_result{WIFEXITED(status) ? WEXITSTATUS(status) : -1, child.out(), child.err()};
}

command_result run_tool(const std::vector<std::string>& args, const fs::path& cwd)
{
    std::vector<std::string> command{TRACKCARVE_EXE};
    command.insert(command.end(), args.begin(), args.end());
    return run_command(command, cwd);
}

pseudo_terminal::pseudo_terminal()
{
    controller_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (controller_ < 0 || grantpt(controller_) != 0 || unlockpt(controller_) != 0)
        throw std::runtime_error(std::string("no pseudo-terminal: ") + std::strerror(errno));
    name_ = ptsname(controller_);
}

pseudo_terminal::~pseudo_terminal() { close(controller_); }

bool pseudo_terminal::read_more()
{
    char block[4096];
    const ssize_t got = read(controller_, block, sizeof block);
    if (got > 0)
        seen_.append(block, static_cast<std::size_t>(got));
    return got > 0;
}

bool pseudo_terminal::wait_for(const std::string& text)
{
    while (seen_.find(text) == std::string::npos)
        if (!read_more())
            return false;
    return true;
}

std::string pseudo_terminal::read_all()
{
    while (read_more()) {
    }
    return seen_;
}

std::map<std::string, std::string> snapshot(const fs::path& root)
{
    std::map<std::string, std::string> entries;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
        struct stat info {};
        lstat(entry.path().c_str(), &info);
        std::string state = std::to_string(info.st_mode);
        if (!S_ISDIR(info.st_mode))
            state += " inode " + std::to_string(info.st_ino) + " time " + std::to_string(info.st_mtim.tv_sec) + "." +
                     std::to_string(info.st_mtim.tv_nsec);
        if (S_ISREG(info.st_mode))
            state += " bytes " + read_file(entry.path());
        else if (S_ISLNK(info.st_mode))
            state += " link to " + fs::read_symlink(entry.path()).string();
        entries[entry.path().lexically_relative(root).string()] = state;
    }
    return entries;
}

std::string small_disc_sheet(const std::string& bin_name)
{
    return "FILE \"" + bin_name + "\" BINARY\n"
           "  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n"
           "  TRACK 02 AUDIO\n    INDEX 01 00:00:10\n";
}

fs::path write_small_disc(const fs::path& dir, const std::string& name)
{
    fs::create_directories(dir);
    write_file(dir / (name + ".bin"), patterned_sectors(0, 30));
    write_file(dir / (name + ".cue"), small_disc_sheet(name + ".bin"));
    return dir / (name + ".cue");
}

std::string console_up_to_toc(const std::string& cue_name, const std::string& out_name)
{
    return "Open file " + cue_name + "\n\nCreating directory: " + out_name + "\n\nCreating file: " + out_name +
           ".toc\n\n";
}

std::string full_console(const std::string& cue_name, const std::string& out_name,
                         const std::vector<std::string>& track_files)
{
    std::string text = console_up_to_toc(cue_name, out_name);
    for (const std::string& file : track_files)
        text += "Processing file... " + file + "\n";
    return text + "Done\n";
}

void expect_complete_split(const fs::path& out, const std::string& out_name)
{
    EXPECT_EQ(read_file(out / (out_name + ".toc")),
              "Leadin\r\ntrack1.iso 00:00:10\r\ntrack2.ogg 00:00:20\r\nLeadout\r\n");
    EXPECT_EQ(fs::file_size(out / "track1.iso"), 10u * 2048) << out;
    EXPECT_EQ(decode_ogg(out / "track2.ogg").pcm_total, 20 * 588) << out;
    EXPECT_NE(read_file(out / (out_name + ".cue")).find("FILE \"track1.iso\" BINARY\r\n"), std::string::npos) << out;
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

disc copy_sample(const fs::path& dir, bool mode2, bool redump)
{
    fs::create_directories(dir);
    for (const auto& entry : fs::directory_iterator(sample_disc_dir(mode2, redump)))
        if (entry.is_regular_file())
            fs::copy_file(entry.path(), dir / entry.path().filename());
    const std::string name = std::string(redump ? "sample_redump" : "sample") + (mode2 ? "_mode2" : "");
    const std::string out = std::string(redump ? "sampleredump" : "sample") + (mode2 ? "mode2" : "");
    return {dir / (name + ".cue"), read_file(dir / (name + (redump ? "-merged.bin" : ".bin"))), out};
}

disc xa_disc(const fs::path& dir, const std::string& mode)
{
    fs::create_directories(dir);
    std::string xa = patterned_sectors(0, 600);
    for (std::size_t s = 0; s < 600; ++s) {
        xa[s * 2352 + 15] = 2;
        xa[s * 2352 + 18] = xa[s * 2352 + 22] = static_cast<char>(s % 7 == 0 ? 0x24 : 0x08);
    }
    const std::string audio = std::string(150 * 2352, '\0') + patterned_sectors(0, 75);
    write_file(dir / "xa 1.bin", xa);
    write_file(dir / "xa 2.bin", audio);
    write_file(dir / "xa.cue", "FILE \"xa 1.bin\" BINARY\n  TRACK 01 " + mode + "\n    INDEX 01 00:00:00\n"
                               "FILE \"xa 2.bin\" BINARY\n  TRACK 02 AUDIO\n"
                               "    INDEX 00 00:00:00\n    INDEX 01 00:02:00\n");
    return {dir / "xa.cue", xa + audio, "xa"};
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

std::string patterned_user_data(std::int64_t first_sector, std::int64_t count, int offset)
{
    std::string bytes;
    for (std::int64_t s = first_sector; s < first_sector + count; ++s)
        for (int i = offset; i < offset + 2048; ++i)
            bytes += static_cast<char>(pattern_byte(s, i));
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

const audio_codec& codec_with_extension(const std::string& extension)
{
    for (const audio_codec& codec : audio_codecs())
        if (codec.extension == extension)
            return codec;
    throw std::invalid_argument("no codec writes ." + extension);
}

void track_fixture::SetUp()
{
    dir = scratch_dir();
    const std::string cue = (dir / "disc.cue").string();
    ASSERT_TRUE(derive_paths(cue.c_str(), paths));
    folder.paths = &paths;
    writer.format = default_track_format();
    folder.temporaries = &temporaries;
    writer.folder = &folder;
    writer.serials = &serials;
    writer.bin.bin = &bin;
    fs::create_directory(dir / "disc");
}

void track_fixture::use_bin(const std::string& bytes)
{
    write_file(dir / "disc.bin", bytes);
    bin.parts = {file_part((dir / "disc.bin").string(), 0, static_cast<std::int64_t>(bytes.size()))};
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

std::map<std::string, std::string> output_files(const fs::path& root)
{
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (!entry.is_regular_file() || entry.path().filename() == ".trackcarve-record")
            continue;
        const std::string name = fs::relative(entry.path(), root).string();
        if (entry.path().extension() == ".ogg") {
            const decoded_stream d = decode_ogg(entry.path());
            files[name] = std::string(reinterpret_cast<const char*>(d.samples.data()), d.samples.size() * 2);
        } else {
            files[name] = read_file(entry.path());
        }
    }
    return files;
}

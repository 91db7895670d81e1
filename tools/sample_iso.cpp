#include "sample_iso.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>

namespace {

constexpr const char* fixed_volume_date = "2024010100000000";   // fixed_time as YYYYMMDDhhmmsscc

std::string numbered_lines(int count)
{
    std::string text;
    for (int i = 1; i <= count; ++i)
        text += "line " + std::to_string(i) + ": the quick brown fox jumps over the lazy dog " +
                std::to_string(i * 7) + " times.\n";
    return text;
}

// Fixed modes and times, so the folder does not depend on umask or clock.
void normalize_attributes(const fs::path& root)
{
    const timespec times[2] = {{fixed_time, 0}, {fixed_time, 0}};
    std::vector<fs::path> paths{root};
    for (const auto& entry : fs::recursive_directory_iterator(root))
        paths.push_back(entry.path());
    for (const auto& path : paths) {
        const bool dir = fs::is_directory(path);
        fs::permissions(path, dir ? fs::perms(0755) : fs::perms(0644));
        if (utimensat(AT_FDCWD, path.c_str(), times, 0) != 0)
            fail("cannot set the times of " + path.string());
    }
}

std::string shell_quote(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// Runs a shell command; its output is shown only if it fails.
void run_quietly(const std::string& command, const std::string& what)
{
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe)
        fail("cannot run " + what);
    std::string output;
    char buffer[4096];
    while (std::size_t got = std::fread(buffer, 1, sizeof buffer, pipe))
        output.append(buffer, got);
    const int status = pclose(pipe);
    if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        fail(what + " failed:\n" + output);
}

// Everything that could vary between runs or machines is pinned: startup
// files, dates, UUID, IDs naming the xorriso version, owners and padding.
void run_xorriso(const fs::path& source, const fs::path& iso)
{
    if (std::system("command -v xorriso >/dev/null 2>&1") != 0)
        fail("xorriso not found (install the xorriso package)");
    fs::remove(iso);   // xorriso would otherwise append a session to it
    const std::string time = std::to_string(fixed_time);
    const std::string date = "=" + time;
    std::string command = "SOURCE_DATE_EPOCH=" + time;
    command += " xorriso -no_rc -outdev " + shell_quote("stdio:" + iso.string());
    command += " -volid TRACKCARVE_SAMPLE -system_id LINUX -preparer_id TRACKCARVE"
               " -application_id '' -publisher ''";
    command += std::string(" -volume_date uuid ") + fixed_volume_date + " -volume_date all_file_dates " + date;
    command += " -iso_nowtime " + date;
    command += " -hardlinks off -acl off -xattr off -md5 off -disk_dev_ino off -padding 0";
    command += " -map " + shell_quote(source.string()) + " /";
    command += " -chown_r 0 / -- -chgrp_r 0 / -- -commit";
    run_quietly(command, "xorriso");
}

// xorriso rounds the file up to a multiple of 32 blocks; cut it back to the
// volume size recorded in the primary volume descriptor, so the data track
// is exactly as long as the file system says.
byte_vector read_iso(const fs::path& path)
{
    byte_vector iso = read_file(path);
    const std::size_t pvd = 16 * block_size;
    if (iso.size() < pvd + block_size || std::memcmp(iso.data() + pvd, "\x01" "CD001", 6) != 0)
        fail("xorriso did not write an ISO 9660 image");
    std::size_t blocks = 0;   // volume space size, the little-endian half of the both-endian field
    for (std::size_t i = 4; i-- > 0;)
        blocks = blocks << 8 | iso[pvd + 80 + i];
    const std::size_t size = blocks * block_size;
    if (size == 0 || size > iso.size())
        fail("unexpected ISO volume size");
    const auto tail = iso.begin() + static_cast<std::ptrdiff_t>(size);
    if (std::any_of(tail, iso.end(), [](std::uint8_t b) { return b != 0; }))
        fail("xorriso wrote data past the end of the volume");
    iso.resize(size);
    write_file(path, iso.data(), iso.size());
    return iso;
}

} // namespace

void write_sample_files(const fs::path& dir)
{
    fs::remove_all(dir);   // stale files would end up in the image
    fs::create_directories(dir / "docs");
    write_text(dir / "readme.txt",
               "trackcarve sample disc\n\n"
               "This folder is the content of the data track (track 1) of the\n"
               "sample disc image. Tracks 2 to 4 are short generated audio pieces.\n");
    write_text(dir / "tracks.txt",
               "01  data   ISO 9660 file system\n"
               "02  audio  C major / F major, 120 bpm\n"
               "03  audio  A minor / G major, 100 bpm\n"
               "04  audio  D minor 7 / E 7, 140 bpm\n");
    write_text(dir / "docs" / "lines.txt", numbered_lines(1500));
    byte_vector noise(256 * 1024);
    std::uint64_t state = 0x5EED0001;
    for (auto& b : noise)
        b = static_cast<std::uint8_t>(next_random(state) >> 56);
    write_file(dir / "noise.bin", noise.data(), noise.size());
    normalize_attributes(dir);
}

byte_vector make_iso(const fs::path& source, const fs::path& iso)
{
    run_xorriso(source, iso);
    return read_iso(iso);
}

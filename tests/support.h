// Scratch folders, whole-file reads and writes, and running the program as a
// user would, for the tests.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace fs = std::filesystem;

// A new, empty folder under the build tree, named after the running test.
fs::path scratch_dir();

void write_file(const fs::path& path, const std::string& bytes);
std::string read_file(const fs::path& path);

struct command_result {
    int exit_status = -1;   // -1: did not exit normally
    std::string out;
    std::string err;
};

// Runs a program with arguments, stdin from /dev/null, and collects its
// output. in_child runs in the child just before exec (limits, signals).
command_result run_command(const std::vector<std::string>& args, const fs::path& cwd = {},
                           const std::function<void()>& in_child = {});

// Runs trackcarve on one argument.
command_result run_trackcarve(const fs::path& cue, const fs::path& cwd = {});

// The sample disc made by the generator (cached per test binary):
// NAME.cue, NAME.bin, NAME.iso and NAME-files/ in a folder of its own.
fs::path sample_disc_dir(bool mode2 = false);

// A raw 2352-byte sector whose every byte tells its sector and offset, so a
// misplaced byte shows.
std::string patterned_sectors(std::int64_t first_sector, std::int64_t count);
unsigned char pattern_byte(std::int64_t sector, int offset);

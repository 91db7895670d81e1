// Scratch folders, whole-file reads and writes, and running the program as a
// user would, for the tests.
#pragma once

#include "base/console.h"
#include "base/paths.h"
#include "base/platform.h"
#include "cue/layout.h"
#include "cue/virtual_bin.h"
#include "extract/track_writer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
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
// NAME.cue, NAME.bin, NAME.iso and NAME-files/ in a folder of its own. The
// Redump-style disc has one BIN per track instead, and NAME-merged.cue over
// the same bytes in NAME-merged.bin.
fs::path sample_disc_dir(bool mode2 = false, bool redump = false);

// A raw 2352-byte sector whose every byte tells its sector and offset, so a
// misplaced byte shows.
std::string patterned_sectors(std::int64_t first_sector, std::int64_t count);
unsigned char pattern_byte(std::int64_t sector, int offset);

// An Ogg Vorbis file read back with libvorbisfile.
struct decoded_stream {
    int channels = 0;
    long rate = 0;
    std::vector<std::string> comments;
    std::int64_t pcm_total = -1;
    std::vector<std::int16_t> samples;   // interleaved left, right
};
decoded_stream decode_ogg(const fs::path& path);

// ogginfo (from vorbis-tools) reads the file without a warning or error.
void expect_ogginfo_accepts(const fs::path& path);

// The table of contents mednafen reads from a CUE sheet (run headless in a
// throwaway home; it stops for want of a BIOS after printing it): each
// track's LBA in order, then the lead-out's. Empty when it printed none.
std::vector<std::int64_t> mednafen_lbas(const fs::path& cue);

// A console whose two streams are kept in memory.
class captured_console {
public:
    captured_console();
    ~captured_console();
    captured_console(const captured_console&) = delete;
    captured_console& operator=(const captured_console&) = delete;
    std::string out();   // standard output so far
    std::string err();   // standard error so far
    console c;

private:
    char* out_text_ = nullptr;
    char* err_text_ = nullptr;
    std::size_t out_size_ = 0;
    std::size_t err_size_ = 0;
};

// Calls extract_track on one track of a BIN in the test's scratch folder,
// whose sheet would be disc.cue: the files land in disc/.
class track_fixture : public testing::Test {
protected:
    void SetUp() override;
    void use_bin(const std::string& bytes);
    // Extracts the span as track `number` and returns its file's path.
    fs::path extract(const track_span& track, std::int32_t number = 1);

    fs::path dir;
    run_paths paths{};
    temporary_files temporaries;
    output_folder folder;
    serial_source serials;
    virtual_bin bin;
    track_writer writer;
    bool clean = false;        // the file is in place and whole
    std::string console;       // what the writer said
    std::string diagnostics;   // what it reported
};

// Scratch folders, whole-file reads and writes, and running the program as a
// user would, for the tests.
#pragma once

#include "base/console.h"
#include "base/paths.h"
#include "base/platform.h"
#include "cue/layout.h"
#include "cue/virtual_bin.h"
#include "extract/audio_codecs.h"
#include "extract/track_writer.h"

#include <gtest/gtest.h>

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace fs = std::filesystem;

// A new, empty folder under the build tree, named after the running test.
fs::path scratch_dir();

void write_file(const fs::path& path, const std::string& bytes);
std::string read_file(const fs::path& path);
// The names in a folder, sorted; none when it cannot be read.
std::vector<std::string> names_in(const fs::path& dir);
// Lines ending in CR LF, as the program writes its sheets and TOCs.
std::string crlf_lines(const std::vector<std::string>& lines);

// Longer than any run here takes unless it hangs: start_watchdog, in a child
// before exec, has SIGALRM end it then (exit status -1).
inline constexpr unsigned watchdog_seconds = TEST_WATCHDOG_SECONDS;
void start_watchdog();

// A program run as a child: stdin from /dev/null, its output into files,
// every signal at its default and unblocked, as a shell would start it.
// in_child runs just before exec. A child still running at the end is killed.
class child_process {
public:
    explicit child_process(const std::vector<std::string>& args, const fs::path& cwd = {},
                           const std::function<void()>& in_child = {});
    ~child_process();
    child_process(const child_process&) = delete;
    child_process& operator=(const child_process&) = delete;

    pid_t pid() const { return pid_; }
    void send(int signal_number);
    bool has_ended();   // without waiting
    int wait();         // the wait status
    std::string out();
    std::string err();

private:
    pid_t pid_ = -1;
    int status_ = -1;
    fs::path out_path_;
    fs::path err_path_;
};

struct command_result {
    int exit_status = -1;   // -1: did not exit normally
    std::string out;
    std::string err;
};

// Runs a program to its end and collects what it wrote.
command_result run_command(const std::vector<std::string>& args, const fs::path& cwd = {},
                           const std::function<void()>& in_child = {});

// Runs trackcarve with these arguments.
command_result run_tool(const std::vector<std::string>& args, const fs::path& cwd = {});

// A pseudo-terminal: a child opens name(); read_all returns what came
// through once no child holds it open.
class pseudo_terminal {
public:
    pseudo_terminal();
    ~pseudo_terminal();
    pseudo_terminal(const pseudo_terminal&) = delete;
    pseudo_terminal& operator=(const pseudo_terminal&) = delete;
    const std::string& name() const { return name_; }
    // Reads until text has come through; false when no child holds the
    // terminal open any more before it does.
    bool wait_for(const std::string& text);
    // Everything that came through, from the start.
    std::string read_all();

private:
    bool read_more();
    int controller_ = -1;
    std::string name_;
    std::string seen_;   // read so far
};

// Every path under root (links not followed): kind, inode, time, and a
// file's bytes or a link's target, so that a tree left alone can be told
// from one rewritten alike. A directory is its mode alone.
std::map<std::string, std::string> snapshot(const fs::path& root);

// The disc most tests start from: 10 data sectors, then 20 audio sectors,
// patterned from 0, as NAME.bin and NAME.cue (the path returned) in dir.
std::string small_disc_sheet(const std::string& bin_name = "disc.bin");
fs::path write_small_disc(const fs::path& dir, const std::string& name = "disc");

// What a run says on standard output up to the TOC, and in all when it
// writes these track files.
std::string console_up_to_toc(const std::string& cue_name, const std::string& out_name);
std::string full_console(const std::string& cue_name, const std::string& out_name,
                         const std::vector<std::string>& track_files = {"track1.iso", "track2.ogg"});

// A small disc's complete split in out, named out_name: its TOC, track
// files and emulator sheet.
void expect_complete_split(const fs::path& out, const std::string& out_name);

// The sample disc made by the generator (cached per test binary):
// NAME.cue, NAME.bin, NAME.iso and NAME-files/ in a folder of its own. The
// Redump-style disc has one BIN per track instead, and NAME-merged.cue over
// the same bytes in NAME-merged.bin.
fs::path sample_disc_dir(bool mode2 = false, bool redump = false);

// A disc copied into a test's folder: its sheet, the bytes of its BIN files
// joined, and the name of its output folder.
struct disc {
    fs::path cue;
    std::string bytes;
    std::string out;
};
// The generator's sample disc (see sample_disc_dir), its files copied into dir.
disc copy_sample(const fs::path& dir, bool mode2, bool redump);
// 600 XA sectors, Form 2 every seventh, then a file whose two-second gap
// of silence ends the data track: 750 sectors over two FILE lines.
disc xa_disc(const fs::path& dir, const std::string& mode = "MODE2/2352");

// A raw 2352-byte sector whose every byte tells its sector and offset, so a
// misplaced byte shows.
std::string patterned_sectors(std::int64_t first_sector, std::int64_t count);
unsigned char pattern_byte(std::int64_t sector, int offset);
// What an .iso of those sectors holds: the 2048 bytes from offset (16 for
// MODE1, 24 for MODE2) of each.
std::string patterned_user_data(std::int64_t first_sector, std::int64_t count, int offset = 16);

// An Ogg Vorbis file read back with libvorbisfile.
struct decoded_stream {
    int channels = 0;
    long rate = 0;
    std::vector<std::string> comments;
    std::int64_t pcm_total = -1;
    std::vector<std::int16_t> samples;   // interleaved left, right
};
decoded_stream decode_ogg(const fs::path& path);

// Every file the user sees under root (the hidden record, which holds the
// times the files were written, left out), by its path from root: its
// bytes, or for an .ogg its decoded samples, whose stream numbers differ
// from run to run.
std::map<std::string, std::string> output_files(const fs::path& root);

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

// The codec whose track files have this extension ("ogg", "flac").
const audio_codec& codec_with_extension(const std::string& extension);

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

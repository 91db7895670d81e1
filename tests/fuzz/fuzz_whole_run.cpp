// Runs the whole program on arbitrary input, in process, and checks what it
// leaves on disk against what the input alone says it must:
// - each .iso is exactly its track's length in 2048-byte sectors, each sector
//   the user data of the BIN sector it comes from (zeros past the BIN's end),
//   and each .bin of --raw-data the BIN's sectors whole;
// - each .ogg decodes to exactly the frames the BIN has for the track and
//   ends in its one end-of-stream page;
// - the TOC is the layout's, and the emulator sheet names the source sheet;
// - the exit status is 0 after a clean run and 1 otherwise: 1 exactly when
//   standard error has a line, or the dialogue ends on an error line;
// - nothing outside the output folder changes, and no temporary is left.
// A variant first fills the output folder, from input bytes, with what a
// final name may hold: links to a canary file outside the folder and to the
// BIN, a FIFO, a directory, a read-only file, an earlier run's temporaries,
// or an emulator sheet of another sheet. The canary never changes, and no
// link is written through.
//
// Input: a header, the sheet, then the bytes the BINs are made from.
//   [0]     flags: 1 two writers (-j 2) | 2 the variant | 4 the output folder
//           is a link to the sheet's own (disc -> ., refused) | 8 another sheet's
//           emulator sheet in the folder | 16 --raw-data (trackN.bin, each
//           data track the BIN's own sectors) | 32 a CHD: all after the
//           header is disc.chd, split instead of the sheet; its tracks are
//           checked against its sectors as the CHD reader gives them, and a
//           file it refuses must be one line and nothing made (so is a
//           sheet that begins with the CHD signature) | 64 --hash (of a
//           sheet: after Done, the sheet's and each file's size, CRC32, MD5
//           and SHA-1, each as the whole file gives it)
//   [1..4]  a.bin and b.bin: whole sectors (mod 49) and a partial sector's
//           bytes (0 unless the byte's top bit is set) each
//   [5..8]  the variant: what sits at each of eight final names, a nibble each
//   [9..10] the sheet's length, little-endian
// The BINs repeat the bytes after the sheet, mixed with their offset so that
// no two sectors are alike.
#include "app/run.h"
#include "base/digest.h"
#include "cue/archive_source.h"
#include "cue/cue_reader.h"
#include "cue/disc_source.h"
#include "cue/layout.h"
#include "extract/audio_codecs.h"
#include "output/output_names.h"
#include "output/toc_file.h"
#include "fuzz_support.h"
#include "../ogg_pages.h"

#include <ogg/ogg.h>
#include <vorbis/vorbisfile.h>

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <set>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fs = std::filesystem;

namespace {

[[noreturn]] void fail(const char* format, ...) __attribute__((format(printf, 1, 2)));
void fail(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    fail_with("fuzz_whole_run", format, arguments);
}

constexpr std::size_t header_size = 11;
constexpr int max_bin_sectors = 49;
// Data tracks longer than this (a sheet's times reach 2^31 sectors) would
// take the run and the checks too long: such inputs are not run.
constexpr std::int64_t max_data_sectors = 2000;
// A CHD whose sectors would take more than this is not run either.
constexpr std::int64_t max_chd_bytes = std::int64_t{6000} * raw_sector_size;

enum flag : std::uint8_t { two_writers = 1, variant = 2, folder_is_sheet_folder = 4, owned_by_another = 8,
                           raw_data = 16, chd_input = 32, hashes = 64 };

// What the variant puts at a final name.
enum class planted {
    nothing, link_to_canary, hard_link_to_canary, fifo, directory, read_only_file, hard_link_to_bin,
    link_to_bin, stale_temporary, lookalike_temporary,
};
constexpr int planted_kinds = 10;
const char* const planted_names[8] = {"disc.toc",   "disc.cue",   "track1.iso", "track1.ogg",
                                      "track2.iso", "track2.ogg", "track3.iso", "track3.ogg"};

std::string read_bytes(const fs::path& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        fail("cannot read %s", path.c_str());
    return std::string(std::istreambuf_iterator<char>(file), {});
}

void write_bytes(const fs::path& path, std::string_view bytes)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!file)
        fail("cannot write %s", path.c_str());
}

bool starts_with(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

// An entry as it stands, not followed: kind, inode and, for a file, bytes.
struct entry_state {
    mode_t mode = 0;
    dev_t device = 0;
    ino_t inode = 0;
    std::string bytes;
    bool operator==(const entry_state&) const = default;
};

std::optional<entry_state> state_of(const fs::path& path)
{
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0)
        return std::nullopt;
    entry_state state{info.st_mode, info.st_dev, info.st_ino, {}};
    if (S_ISREG(info.st_mode))
        state.bytes = read_bytes(path);
    return state;
}

std::map<std::string, entry_state> snapshot(const fs::path& dir)
{
    std::map<std::string, entry_state> entries;
    for (const fs::directory_entry& entry : fs::directory_iterator(dir))
        entries[entry.path().filename().string()] = *state_of(entry.path());
    return entries;
}

// The BIN bytes: the input's tail repeated, mixed with the offset.
std::string make_bin(std::string_view seed, int sectors, int partial, std::uint8_t salt)
{
    std::string bytes(static_cast<std::size_t>(sectors) * raw_sector_size + static_cast<std::size_t>(partial), '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto mixed = static_cast<std::uint8_t>(i * 131 + i / raw_sector_size * 29 + salt);
        bytes[i] = static_cast<char>(seed.empty() ? mixed : static_cast<std::uint8_t>(seed[i % seed.size()]) ^ mixed);
    }
    return bytes;
}

void check_ogg(const fs::path& path, std::int64_t frames)
{
    OggVorbis_File vf;
    if (ov_fopen(path.c_str(), &vf) != 0)
        fail("%s is not an Ogg Vorbis stream", path.c_str());
    const std::int64_t total = ov_pcm_total(&vf, -1);
    std::int64_t decoded = 0;
    char block[8192];
    int section = 0;
    for (long got; (got = ov_read(&vf, block, sizeof block, 0, 2, 1, &section)) > 0;)
        decoded += got / 4;
    ov_clear(&vf);
    if (total != frames || decoded != frames)
        fail("%s: %lld frames by its granule, %lld decoded, %lld expected", path.c_str(),
             static_cast<long long>(total), static_cast<long long>(decoded), static_cast<long long>(frames));
    if (!ends_in_one_end_of_stream_page(read_bytes(path)))
        fail("%s does not end in its end-of-stream page", path.c_str());
}

// What the track's file must hold, and whether the emulator sheet may point
// at it (every sector there, none padded or cut).
struct expected_track {
    std::string iso;              // data tracks
    std::int64_t frames = 0;      // audio tracks
    bool whole = false;
};

expected_track expect_track(const track_span& track, std::string_view bin, bool raw)
{
    expected_track e;
    const std::int64_t length = std::max(track.length_sectors, 0);
    const std::int64_t size = static_cast<std::int64_t>(bin.size());
    const std::int64_t start_byte = std::int64_t{track.start_sector} * raw_sector_size;
    if (track.is_audio != 0) {
        const std::int64_t available = track.start_sector < 0 ? 0 : std::max<std::int64_t>(size - start_byte, 0);
        e.frames = std::min(std::int64_t{track.length_sectors} * raw_sector_size, available) / 4;
        if (track.length_sectors <= 0)
            e.frames = 0;
        e.whole = track.length_sectors > 0 && e.frames == length * (raw_sector_size / 4);
        return e;
    }
    const int offset = raw ? 0 : track.is_mode2 != 0 ? 24 : 16;
    const int kept = raw ? raw_sector_size : 2048;
    e.iso.assign(static_cast<std::size_t>(length * kept), '\0');
    for (std::int64_t s = 0; s < length && track.start_sector >= 0; ++s)
        for (int i = 0; i < kept; ++i) {
            const std::int64_t at = start_byte + s * raw_sector_size + offset + i;
            if (at < size)
                e.iso[static_cast<std::size_t>(s * kept + i)] = bin[static_cast<std::size_t>(at)];
        }
    e.whole = track.length_sectors > 0 && track.start_sector >= 0 &&
              start_byte + length * raw_sector_size <= size;
    // A MODE2 sector the BIN holds whole, with mode byte 2 and the Form 2
    // submode bit: its .iso lost data, so no sheet may stand for it.
    for (std::int64_t s = 0; s < length && e.whole && track.is_mode2 != 0 && !raw; ++s) {
        const std::size_t at = static_cast<std::size_t>(start_byte + s * raw_sector_size);
        e.whole = !(bin[at + 15] == 2 && (bin[at + 18] & 0x20) != 0);
    }
    return e;
}

// The name an emulator sheet's first line gives, as the run reads it.
std::optional<std::string> sheet_owner(const fs::path& path)
{
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    // fgets into 1100 bytes: to the first line end, or 1099 bytes, or the end.
    std::string line = read_bytes(path);
    const std::size_t line_end = line.find('\n');
    line = line.substr(0, std::min(line_end == std::string::npos ? line.size() : line_end + 1, std::size_t{1099}));
    line = line.substr(0, line.find('\0'));
    constexpr std::string_view start = "REM SOURCE \"";
    if (!starts_with(line, start))
        return std::nullopt;
    const std::size_t end = line.rfind('"');
    if (end < start.size())
        return std::nullopt;
    return line.substr(start.size(), end - start.size());
}

void plant(planted kind, const fs::path& at, const fs::path& canary, const fs::path& bin)
{
    const std::string name = at.filename().string();
    switch (kind) {
    case planted::nothing:
        break;
    case planted::link_to_canary:
        fs::create_symlink(canary, at);
        break;
    case planted::hard_link_to_canary:
        fs::create_hard_link(canary, at);
        break;
    case planted::fifo:
        if (mkfifo(at.c_str(), 0600) != 0)
            fail("mkfifo %s: %s", at.c_str(), std::strerror(errno));
        break;
    case planted::directory:
        fs::create_directory(at);
        write_bytes(at / "inside", "a file in a directory at a final name");
        break;
    case planted::read_only_file:
        write_bytes(at, "an earlier run's file, read-only");
        fs::permissions(at, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
        break;
    case planted::hard_link_to_bin:
        fs::create_hard_link(bin, at);
        break;
    case planted::link_to_bin:
        fs::create_symlink(bin, at);
        break;
    case planted::stale_temporary:
        // Above any process id Linux hands out: a run that is gone.
        write_bytes(at.parent_path() / ("." + name + ".4194305.trackcarve-tmp"), "left by a kill");
        break;
    case planted::lookalike_temporary:
        write_bytes(at.parent_path() / ("." + name + ".x1.trackcarve-tmp"), "not of the run's pattern");
        break;
    }
}

struct scratch {
    fs::path root;     // holds the canary and the sheet's folder
    fs::path dir;      // the sheet's folder
    fs::path out;      // the output folder
    fs::path canary;
};

scratch make_scratch()
{
    const char* tmp = std::getenv("TMPDIR");
    scratch s;
    s.root = fs::path(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") / ("fuzz_whole_run." + std::to_string(getpid()));
    s.dir = s.root / "sheet";
    s.out = s.dir / "disc";
    s.canary = s.root / "canary";
    std::error_code ignored;
    fs::remove_all(s.dir, ignored);
    fs::create_directories(s.dir);
    write_bytes(s.canary, "the canary: outside the output folder, never written");
    return s;
}

// The run's inputs, by the names beside the sheet: what each holds (through
// a link) and which files they are (the name's own entry and its target).
struct inputs_seen {
    std::map<std::string, std::string> bytes;
    std::set<std::pair<dev_t, ino_t>> files;
};

inputs_seen see_inputs(const fs::path& dir, const std::string& source_name, const cue_read& read)
{
    inputs_seen seen;
    std::vector<std::string> names{source_name};
    for (const bin_file_entry& file : read.sheet.bin_files)
        names.push_back(file.name);
    for (const std::string& name : names) {
        struct stat info {};
        if (lstat((dir / name).c_str(), &info) == 0)
            seen.files.insert({info.st_dev, info.st_ino});
        if (stat((dir / name).c_str(), &info) == 0) {
            seen.files.insert({info.st_dev, info.st_ino});
            if (S_ISREG(info.st_mode))
                seen.bytes[name] = read_bytes(dir / name);
        }
    }
    return seen;
}

struct run_record {
    std::string source_name;   // disc.cue or disc.chd
    std::uint8_t flags;
    std::array<planted, 8> plan;
    std::map<std::string, entry_state> before_dir;
    std::optional<std::map<std::string, entry_state>> before_out;
    std::optional<std::string> owner;   // of the emulator sheet in the folder before the run
    inputs_seen inputs;
    cue_read read;
    disc_layout layout;   // with the hidden track, as the source reads it
    bool not_a_sheet;     // no FILE or TRACK line: refused before any folder
    std::string bin;                 // the virtual BIN, as the source reads it
    std::vector<bool> damaged;       // by track number: the reader gave some of its sectors as zeros
    std::string out;
    std::string err;
    int status;
    std::string hash_lines;   // what --hash said after Done
};

// What --hash says after Done: the sheet's and each file's digests as the
// whole file gives them (nothing, after a failure before any track).
std::string expected_hash_lines(const scratch& s, const run_record& r)
{
    // A run that fails before it reads a track hashes nothing.
    if ((r.flags & hashes) == 0 || (r.status != 0 && r.hash_lines.empty()))
        return "";
    std::vector<std::string> names{r.source_name};
    for (const bin_file_entry& entry : r.read.sheet.bin_files)
        names.push_back(entry.name);
    std::string lines;
    for (const std::string& name : names) {
        file_digest digest;
        if (!digest_of_file((s.dir / name).c_str(), digest))
            fail("%s cannot be hashed", name.c_str());
        lines += name + ": " + std::to_string(digest.size) + " bytes, CRC32 " + crc32_hex(digest.crc32) + ", MD5 " +
                 hex_of(digest.md5) + ", SHA-1 " + hex_of(digest.sha1) + "\n";
    }
    return lines;
}

void check_run(const scratch& s, const run_record& r)
{
    const std::uint8_t flags = r.flags;
    const auto& plan = r.plan;
    const auto& before_dir = r.before_dir;
    const auto& before_out = r.before_out;
    const cue_read& read = r.read;
    const std::string& out = r.out;
    const std::string& err = r.err;
    const int status = r.status;
    const bool in_place = (flags & folder_is_sheet_folder) != 0;
    // The console: every stderr line a report; the status from them.
    for (std::size_t p = 0; p < err.size();) {
        const std::size_t end = err.find('\n', p);
        if (end == std::string::npos || err.compare(p, 12, "trackcarve: ") != 0)
            fail("malformed stderr: \"%s\"", err.c_str());
        p = end + 1;
    }
    const bool error_line = out.find("\nError") != std::string::npos;
    if (status != (err.empty() && !error_line ? 0 : 1))
        fail("exit status %d with %zu bytes on stderr, %s error line", status, err.size(),
             error_line ? "an" : "no");
    if (read_bytes(s.canary) != "the canary: outside the output folder, never written")
        fail("the canary changed");

    // Outside the output folder nothing changed (a link to the sheet's own
    // folder is not followed); in it, no temporary of the run is left, and a
    // lookalike of one is.
    const auto after_dir = snapshot(s.dir);
    for (const auto& [name, state] : before_dir) {
        const auto now = after_dir.find(name);
        if (name != "disc" && (now == after_dir.end() || !(now->second == state)))
            fail("%s beside the sheet changed", name.c_str());
    }
    for (const auto& [name, state] : after_dir)
        if (name != "disc" && before_dir.count(name) == 0)
            fail("%s appeared beside the sheet", name.c_str());

    const std::string opened = "Open file " + r.source_name + "\n\n";
    const std::string notices = [&read] {
        std::string text;
        for (const std::string& notice : read.sheet.notices)
            text += "trackcarve: " + notice + "\n";
        return text;
    }();
    if (!starts_with(err, notices))
        fail("stderr does not start with the reader's notices");
    if (!read.ok || r.not_a_sheet) {
        // A malformed line is the dialogue's error and its detail on stderr; a
        // file that is no sheet at all one stderr line after the notices.
        const std::string refusal = "trackcarve: " + (s.dir / "disc.cue").string() + " is not a CUE sheet: ";
        const std::string malformed_line =
            "Error!! line " + std::to_string(read.error.line_number) + " " + read.error.message + "\n";
        const bool one_more_line = err.find('\n', notices.size()) + 1 == err.size();
        const bool as_told = r.not_a_sheet ? out == opened && starts_with(err, notices + refusal) && one_more_line
                                           : out == opened + malformed_line &&
                                                 err == notices + "trackcarve: " + read.error.detail + "\n";
        if (!as_told)
            fail("a malformed sheet: stdout \"%s\"", out.c_str());
        if (!before_out && fs::exists(fs::symlink_status(s.out)))
            fail("a malformed sheet created the output folder");
        if (before_out && snapshot(s.out) != *before_out)
            fail("a malformed sheet changed the output folder");
        return;
    }
    const std::string created = opened + "Creating directory: disc\n\n";
    if (in_place) {
        if (out != created ||
            err != notices + "trackcarve: " + s.out.string() +
                       " is a symbolic link; nothing was written through it (-o DIR or --full-names gives this "
                       "sheet a folder of its own)\n")
            fail("a linked output folder: stdout \"%s\" stderr \"%s\"", out.c_str(), err.c_str());
        return;
    }
    const std::optional<std::string>& owner = r.owner;
    if (owner && *owner != r.source_name) {
        const std::string refusal = "trackcarve: " + s.out.string() + " holds the tracks of another sheet, \"" +
                                    *owner + "\"; nothing was overwritten (-o DIR or --full-names gives this sheet "
                                    "a folder of its own)\n";
        if (out != created || err != notices + refusal)
            fail("another sheet's folder: stdout \"%s\" stderr \"%s\"", out.c_str(), err.c_str());
        if (snapshot(s.out) != *before_out)
            fail("another sheet's folder was touched");
        return;
    }
    for (const fs::directory_entry& entry : fs::directory_iterator(s.out)) {
        const std::string name = entry.path().filename().string();
        const std::size_t suffix = name.find(".trackcarve-tmp");
        if (suffix != std::string::npos && name.find(".x1.trackcarve-tmp") == std::string::npos)
            fail("temporary %s left", name.c_str());
    }
    for (std::size_t i = 0; i < plan.size(); ++i)
        if (plan[i] == planted::lookalike_temporary &&
            !fs::exists(s.out / ("." + std::string(planted_names[i]) + ".x1.trackcarve-tmp")))
            fail("a file not of the run's pattern was removed");

    // A final name the run may not replace: a directory, or the same file as
    // one of its inputs. Judged by the entry as it stood before the run.
    const auto blocked = [&](const std::string& name) {
        if (!before_out)
            return false;
        const auto entry = before_out->find(name);
        if (entry == before_out->end())
            return false;
        return S_ISDIR(entry->second.mode) || r.inputs.files.count({entry->second.device, entry->second.inode}) != 0;
    };
    // A file the run wrote: a regular file, not what held the name before.
    // (Only the same name counts: a removed temporary's inode may be reused.)
    const auto new_file = [&](const std::string& name) {
        const std::optional<entry_state> now = state_of(s.out / name);
        if (!now || !S_ISREG(now->mode))
            return false;
        if (!before_out)
            return true;
        const auto old = before_out->find(name);
        return old == before_out->end() || old->second.inode != now->inode;
    };

    const disc_layout& layout = r.layout;
    const std::string toc_line = created + "Creating file: disc.toc\n\n";
    if (blocked("disc.toc")) {
        if (out != toc_line + "Error creando TOC\n")
            fail("a directory at the TOC's name: stdout \"%s\"", out.c_str());
        return;
    }
    if (!starts_with(out, toc_line) || out.size() < 5 || out.substr(out.size() - 5) != "Done\n")
        fail("stdout \"%s\"", out.c_str());
    if (r.hash_lines != expected_hash_lines(s, r))
        fail("hashes \"%s\"", r.hash_lines.c_str());
    captured_stream toc;
    track_format format = default_track_format();
    format.raw_data = (flags & raw_data) != 0;
    write_toc(toc.file, layout, format);
    if (!new_file("disc.toc") || read_bytes(s.out / "disc.toc") != toc.contents())
        fail("the TOC is not the layout's");
    if (layout.track_count == 0 || read.sheet.bin_files.empty()) {
        if (new_file("disc.cue"))
            fail("an emulator sheet without track files");
        return;
    }

    // The model below knows files of raw 2352-byte sectors; the bytes of the
    // other kinds (WAVE, FLAC, MOTOROLA, 2048-byte sectors) are the tests' to check.
    for (const bin_file_entry& file : read.sheet.bin_files)
        if (file.kind != file_kind::binary || file.sector_bytes != raw_sector_size)
            return;
    const std::string& bin = r.bin;
    // Audio before track 1's INDEX 01 is its own track, silence is not.
    const track_span& first = layout.tracks[1];
    if ((layout.tracks[0].length_sectors > 0) !=
        (first.is_audio != 0 && first.start_sector > 0 &&
         bin.substr(0, static_cast<std::size_t>(first.start_sector) * raw_sector_size).find_first_not_of('\0') !=
             std::string::npos))
        fail("a hidden track where there is none, or none where there is one");
    bool all_whole = true;
    for (std::int32_t number = first_track_file(layout); number <= layout.track_count; ++number) {
        const track_span& track = layout.tracks[number];
        const std::string name = name_track_file(number, track.is_audio != 0, format).text;
        const expected_track e = expect_track(track, bin, format.raw_data);
        if (blocked(name)) {
            all_whole = all_whole && number == 0;   // the emulator sheet does not name track00
            if (err.find("cannot create " + (s.out / name).string() + ": ") == std::string::npos)
                fail("%s could not be written, and stderr does not say so", name.c_str());
            continue;
        }
        if (!new_file(name))
            fail("%s is not a new regular file", name.c_str());
        // The sheet does not name track00.
        all_whole = all_whole && ((e.whole && !r.damaged[static_cast<std::size_t>(number)]) || number == 0);
        if (track.is_audio != 0)
            check_ogg(s.out / name, e.frames);
        else if (read_bytes(s.out / name) != e.iso)
            fail("%s does not hold the BIN's sectors (%zu bytes, %zu expected)", name.c_str(),
                 read_bytes(s.out / name).size(), e.iso.size());
    }
    // No sheet of more than 99 tracks: no reader takes TRACK 100.
    if (all_whole && layout.track_count <= 99 && !blocked("disc.cue")) {
        if (!new_file("disc.cue") ||
            !starts_with(read_bytes(s.out / "disc.cue"), "REM SOURCE \"" + r.source_name + "\"\r\n"))
            fail("no emulator sheet after a clean set of tracks");
    } else if (new_file("disc.cue")) {
        fail("an emulator sheet over a broken set of tracks");
    }
}

// A file the CHD reader refuses: one line, naming it, and nothing made.
void check_refusal(const scratch& s, const run_record& r, const disc_source& chd)
{
    if (chd.result != disc_source::state::not_a_source || r.status != 1 || r.out != "Open file " + r.source_name + "\n\n" ||
        r.err != "trackcarve: " + chd.error.message + "\n" ||
        !starts_with(chd.error.message, (s.dir / r.source_name).string() + " "))
        fail("a refused CHD: stdout \"%s\" stderr \"%s\"", r.out.c_str(), r.err.c_str());
    if (!r.before_out && fs::exists(fs::symlink_status(s.out)))
        fail("a refused CHD created the output folder");
    if (r.before_out && snapshot(s.out) != *r.before_out)
        fail("a refused CHD changed the output folder");
}

// The virtual BIN, from the files as they were before the run.
std::string sheet_bin(const cue_read& read, const inputs_seen& inputs)
{
    std::string bin;
    for (std::size_t i = 0; read.ok && i < read.sheet.bin_files.size(); ++i) {
        const auto file = inputs.bytes.find(read.sheet.bin_files[i].name);
        if (file == inputs.bytes.end())
            fail("the sheet's BIN %s is not beside it", read.sheet.bin_files[i].name.c_str());
        std::string_view bytes = file->second;
        if (i + 1 < read.sheet.bin_files.size())
            bytes = bytes.substr(0, bytes.size() - bytes.size() % raw_sector_size);
        bin += bytes;
    }
    return bin;
}

// A CHD's sectors as its reader gives them, and the tracks it gave zeros in for damage.
std::string chd_bin(const disc_source& source, std::vector<bool>& damaged)
{
    bin_reader reader;
    reader.bin = &source.bin;
    std::string bin(static_cast<std::size_t>(source.bin.size_bytes), '\0');
    bin.resize(read_bin(reader, 0, reinterpret_cast<unsigned char*>(bin.data()), bin.size()));
    damaged.assign(static_cast<std::size_t>(source.layout.track_count) + 1, false);
    for (const damaged_bytes& stretch : reader.damage)
        for (std::int32_t number = 1; number <= source.layout.track_count; ++number) {
            const track_span& track = source.layout.tracks[number];
            const std::int64_t begin = std::int64_t{track.start_sector} * raw_sector_size;
            const std::int64_t end = begin + std::int64_t{std::max(track.length_sectors, 0)} * raw_sector_size;
            if (stretch.first_byte < end && stretch.first_byte + stretch.count > begin)
                damaged[static_cast<std::size_t>(number)] = true;
        }
    return bin;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < header_size)
        return 0;
    const std::uint8_t flags = data[0];
    const std::size_t sheet_length =
        std::min<std::size_t>(std::size_t{data[9]} | std::size_t{data[10]} << 8, size - header_size);
    const std::string sheet(reinterpret_cast<const char*>(data) + header_size, sheet_length);
    const std::string_view seed(reinterpret_cast<const char*>(data) + header_size + sheet_length,
                                size - header_size - sheet_length);
    const auto partial = [](std::uint8_t b) { return (b & 0x80) != 0 ? (b & 0x7F) * 17 : 0; };

    const scratch s = make_scratch();
    const std::string_view chd_bytes = std::string_view(reinterpret_cast<const char*>(data), size).substr(header_size);
    const std::string source_name = (flags & chd_input) != 0 ? "disc.chd" : "disc.cue";
    write_bytes(s.dir / source_name, (flags & chd_input) != 0 ? chd_bytes : std::string_view(sheet));
    // A sheet that begins with a CHD's signature is read as one.
    const bool is_chd = (flags & chd_input) != 0 || starts_with(sheet, "MComprHD");
    write_bytes(s.dir / "a.bin", make_bin(seed, data[1] % max_bin_sectors, partial(data[2]), 0));
    write_bytes(s.dir / "b.bin", make_bin(seed, data[3] % max_bin_sectors, partial(data[4]), 0x5A));

    std::array<planted, 8> plan{};
    if ((flags & folder_is_sheet_folder) != 0)
        fs::create_directory_symlink(".", s.out);
    else if ((flags & (variant | owned_by_another)) != 0)
        fs::create_directory(s.out);
    if ((flags & variant) != 0) {
        for (std::size_t i = 0; i < plan.size(); ++i) {
            plan[i] = static_cast<planted>((data[5 + i / 2] >> (i % 2 * 4) & 0xF) % planted_kinds);
            // The sheet itself is at disc.cue when the folder is the sheet's.
            if ((flags & folder_is_sheet_folder) != 0 && i == 1)
                plan[i] = planted::nothing;
            plant(plan[i], s.out / planted_names[i], s.canary, s.dir / "a.bin");
        }
    }
    if ((flags & owned_by_another) != 0 && (flags & folder_is_sheet_folder) == 0 && plan[1] == planted::nothing)
        write_bytes(s.out / "disc.cue", "REM SOURCE \"disc (another).cue\"\r\nFILE \"track1.iso\" BINARY\r\n");

    // A sheet that begins as an archive does is one: its runs are the tests' to check.
    if (is_archive_source((s.dir / "disc.cue").c_str()))
        return 0;
    // The sheet as the run will read it, its BINs found and sized as the run
    // finds them: regular files through any link, nothing else. A CHD as its
    // reader reads it.
    const disc_source source = read_disc_source(disc_name{(s.dir / source_name).string(), ""});
    cue_read read{source.sheet, source.result != disc_source::state::malformed, source.error};
    if (is_chd) {
        read.ok = source.result == disc_source::state::read;
        if (read.ok && source.bin.size_bytes > max_chd_bytes)
            return 0;
    }
    // Inputs whose data tracks would run to gigabytes are not run.
    if (read.ok) {
        const disc_layout& layout = source.layout;
        std::int64_t data_sectors = 0;
        for (std::int32_t number = 1; number <= layout.track_count; ++number)
            if (layout.tracks[number].is_audio == 0)
                data_sectors += std::max(layout.tracks[number].length_sectors, 0);
        if (data_sectors > max_data_sectors)
            return 0;
    }

    run_record r{source_name,
                 flags,
                 plan,
                 snapshot(s.dir),
                 std::nullopt,
                 std::nullopt,
                 see_inputs(s.dir, source_name, read),
                 read,
                 source.layout,
                 source.result == disc_source::state::not_a_source,
                 {},
                 {},
                 {},
                 {},
                 0,
                 {}};
    r.bin = is_chd ? chd_bin(source, r.damaged) : sheet_bin(read, r.inputs);
    if (!is_chd)
        r.damaged.assign(static_cast<std::size_t>(std::max(read.sheet.track_count, 0)) + 1, false);
    if (fs::is_directory(s.out)) {
        r.before_out = snapshot(s.out);
        r.owner = sheet_owner(s.out / "disc.cue");
    }

    captured_stream out;
    captured_stream err;
    console c;
    c.out = out.file;
    c.err = err.file;
    std::string cue_path = (s.dir / source_name).string();
    char program[] = "trackcarve";
    char jobs_option[] = "-j";
    char jobs[] = "2";
    if ((flags & two_writers) == 0)
        jobs[0] = '1';
    char raw_option[] = "--raw-data";
    char end_of_options[] = "--";
    char hash_option[] = "--hash";
    char* argv[] = {program, jobs_option, jobs, nullptr, nullptr, nullptr, nullptr};
    int argc = 3;
    if ((flags & raw_data) != 0)
        argv[argc++] = raw_option;
    if ((flags & hashes) != 0 && !is_chd)
        argv[argc++] = hash_option;
    argv[argc++] = end_of_options;
    argv[argc++] = cue_path.data();
    r.status = run_trackcarve(c, argc, argv);
    r.out = out.contents();
    r.err = err.contents();
    if ((flags & hashes) != 0 && !is_chd) {
        const std::size_t done = r.out.rfind("Done\n");
        if (done != std::string::npos) {
            r.hash_lines = r.out.substr(done + 5);
            r.out.resize(done + 5);
        }
    } else
        r.flags &= static_cast<std::uint8_t>(~hashes);

    if (is_chd && source.result != disc_source::state::read)
        check_refusal(s, r, source);
    else
        check_run(s, r);
    std::error_code ignored;
    fs::remove_all(s.root, ignored);
    return 0;
}

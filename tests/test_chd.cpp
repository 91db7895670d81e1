// CHD input, against chdman (Debian's mame-tools): a CHD splits into what
// the BIN and sheet of chdman extractcd split into; a damaged hunk costs its
// own track's sectors and nothing else; a file that is not a CD CHD read
// here is one line on standard error, nothing made. And, hunk by hunk, the
// framing of the CD codecs, cdzs among them, which this chdman cannot write.
#include "cue/chd_codecs.h"
#include "cue/chd_image.h"
#include "cue/chd_tracks.h"
#include "cue/sector_codes.h"
#include "support.h"

#include <gtest/gtest.h>

#include <zlib.h>
#include <zstd.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace {

void chdman(std::vector<std::string> args)
{
    args.insert(args.begin(), "/usr/bin/chdman");
    const command_result made = run_command(args);
    ASSERT_EQ(made.exit_status, 0) << made.out << made.err;
}

// The disc's sheet and BINs in dir; the sheet's path. "album": the sample's
// audio alone after a stored gap, track 1 with INDEX 00, track 3 a PREGAP.
fs::path copy_disc(const fs::path& dir, const std::string& disc)
{
    fs::create_directories(dir);
    if (disc == "album") {
        const std::string bin = read_file(sample_disc_dir() / "sample.bin");
        write_file(dir / "album.bin", std::string(150 * 2352, '\0') + bin.substr(235 * 2352));
        write_file(dir / "album.cue", "FILE \"album.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 00 00:00:00\n"
                                      "    INDEX 01 00:02:00\n  TRACK 02 AUDIO\n    INDEX 00 00:06:00\n"
                                      "    INDEX 01 00:08:00\n  TRACK 03 AUDIO\n    PREGAP 00:02:00\n"
                                      "    INDEX 01 00:14:15\n");
        return dir / "album.cue";
    }
    const fs::path source = sample_disc_dir(disc.find("mode2") != std::string::npos, disc == "sample_redump");
    for (const auto& entry : fs::directory_iterator(source))
        if (entry.path().extension() == ".bin" || entry.path().extension() == ".cue")
            fs::copy_file(entry.path(), dir / entry.path().filename());
    return dir / (disc + ".cue");
}

fs::path make_chd(const fs::path& cue, const fs::path& chd, const std::string& codecs)
{
    std::vector<std::string> args{"createcd", "-i", cue.string(), "-o", chd.string()};
    if (!codecs.empty())
        args.insert(args.end(), {"-c", codecs});
    chdman(args);
    return chd;
}

// The output folder a sheet or CHD of this stem gets.
std::string out_name(const std::string& stem)
{
    std::string name;
    for (const char c : stem.substr(0, stem.find('.')))
        if (std::isalnum(static_cast<unsigned char>(c)) != 0 && name.size() < 25)
            name += c;
    return name;
}

std::vector<std::string> visible_names(const fs::path& dir)
{
    std::vector<std::string> names = names_in(dir);
    std::erase_if(names, [](const std::string& name) { return name[0] == '.'; });
    return names;
}

std::string raw_flac(const fs::path& flac)
{
    const fs::path raw = flac.string() + ".raw";
    const command_result decoded = run_command({"/usr/bin/flac", "-d", "-s", "-f", "--force-raw-format",
                                                "--endian=little", "--sign=signed", "-o", raw.string(), flac.string()});
    EXPECT_EQ(decoded.exit_status, 0) << decoded.err;
    return read_file(raw);
}

// Two output folders hold the same files: each .ogg the same samples, the
// emulator sheets the same but for the source they name, the rest the same bytes.
void expect_same_split(const fs::path& ours, const fs::path& theirs)
{
    ASSERT_EQ(visible_names(ours), visible_names(theirs));
    for (const std::string& name : visible_names(ours)) {
        SCOPED_TRACE(name);
        const std::string a = read_file(ours / name);
        const std::string b = read_file(theirs / name);
        if (fs::path(name).extension() == ".ogg") {
            const decoded_stream x = decode_ogg(ours / name);
            EXPECT_EQ(x.pcm_total, decode_ogg(theirs / name).pcm_total);
            EXPECT_TRUE(x.samples == decode_ogg(theirs / name).samples) << "decoded audio differs";
        } else if (fs::path(name).extension() == ".cue") {
            EXPECT_EQ(a.substr(a.find('\n')), b.substr(b.find('\n')));
        } else {
            EXPECT_TRUE(a == b) << "bytes differ";
        }
    }
}

struct equivalence_row {
    const char* disc;
    const char* codecs;   // chdman's -c; "" its default
    std::vector<std::string> options;
    const char* chd_name = nullptr;   // null: DISC.chd
};

// Named in test listings by what they hold, not their bytes.
void PrintTo(const equivalence_row& row, std::ostream* os) { *os << row.disc << " -c " << row.codecs; }

class ChdSplit : public testing::TestWithParam<equivalence_row> {};

TEST_P(ChdSplit, GivesWhatChdmansBinAndSheetGive)
{
    const equivalence_row& row = GetParam();
    const fs::path dir = scratch_dir();
    const fs::path cue = copy_disc(dir / "source", row.disc);
    const std::string chd_name = row.chd_name != nullptr ? row.chd_name : std::string(row.disc) + ".chd";
    const fs::path chd = make_chd(cue, dir / chd_name, row.codecs);
    fs::create_directory(dir / "extracted");
    const std::string stem = chd.stem().string();
    const fs::path extracted = dir / "extracted" / (stem + ".cue");
    chdman({"extractcd", "-i", chd.string(), "-o", extracted.string(), "-ob",
            (dir / "extracted" / (stem + ".bin")).string()});

    std::vector<std::string> ours_args = row.options;
    std::vector<std::string> theirs_args = row.options;
    ours_args.push_back(chd.string());
    theirs_args.push_back(extracted.string());
    const command_result ours = run_tool(ours_args);
    const command_result theirs = run_tool(theirs_args);
    EXPECT_EQ(ours.exit_status, 0) << ours.err;
    EXPECT_EQ(ours.err, theirs.err);
    std::string expected_out = theirs.out;
    expected_out.replace(expected_out.find(extracted.filename().string()), extracted.filename().string().size(),
                         chd_name);
    EXPECT_EQ(ours.out, expected_out);
    expect_same_split(dir / out_name(stem), dir / "extracted" / out_name(stem));
}

INSTANTIATE_TEST_SUITE_P(
    Discs, ChdSplit,
    testing::Values(equivalence_row{"sample", "cdlz", {}}, equivalence_row{"sample", "cdzl", {}},
                    equivalence_row{"sample", "cdfl", {}}, equivalence_row{"sample", "", {}},
                    equivalence_row{"sample_mode2", "cdlz", {}}, equivalence_row{"sample_mode2", "cdzl", {}},
                    equivalence_row{"sample_mode2", "cdfl", {}}, equivalence_row{"sample_mode2", "", {}},
                    equivalence_row{"album", "cdlz", {}}, equivalence_row{"album", "cdzl", {}},
                    equivalence_row{"album", "cdfl", {}}, equivalence_row{"album", "", {}},
                    equivalence_row{"sample_redump", "", {}},
                    equivalence_row{"sample", "cdlz", {"--raw-data", "--flac"}},
                    equivalence_row{"sample_mode2", "none", {"--raw-data", "-j", "1"}},
                    equivalence_row{"sample", "zlib,lzma,flac", {"--flac"}, "Sample Disc.img"}),
    [](const testing::TestParamInfo<equivalence_row>& row_info) {
        std::string name = std::string(row_info.param.disc) + "_" + std::to_string(row_info.index);
        std::erase(name, '_');
        return name;
    });

// A CHD of an ISO keeps 2048-byte MODE1 sectors: its .iso is the ISO, and
// --raw-data gives the sectors whole again, sync, header, EDC and ECC.
TEST(ChdOfAnIso, GivesTheIsoAndItsSectorsWhole)
{
    const fs::path dir = scratch_dir();
    fs::copy_file(sample_disc_dir() / "sample.iso", dir / "game.iso");
    const fs::path chd = make_chd(dir / "game.iso", dir / "game.chd", "");
    ASSERT_EQ(run_tool({"-o", (dir / "plain").string(), chd.string()}).exit_status, 0);
    ASSERT_EQ(run_tool({"--raw-data", chd.string()}).exit_status, 0);
    EXPECT_TRUE(read_file(dir / "plain" / "game" / "track1.iso") == read_file(dir / "game.iso"));
    EXPECT_TRUE(read_file(dir / "game" / "track1.bin") ==
                read_file(sample_disc_dir() / "sample.bin").substr(0, fs::file_size(dir / "game.iso") / 2048 * 2352));
}

// A CHD among sheets in one call: the writers shared, its split the same as
// its own sheet's; a second call with --skip-done skips both, and --report
// says so of each.
TEST(ChdAmongSheets, SplitsBesideThemAndIsSkippedOnceDone)
{
    const fs::path dir = scratch_dir();
    const fs::path cue = copy_disc(dir, "sample");
    fs::create_directory(dir / "chd");
    const fs::path chd = make_chd(cue, dir / "chd" / "sample.chd", "");
    const std::vector<std::string> args{"-j", "2", "--skip-done", "--report", (dir / "report").string(),
                                        chd.string(), cue.string()};
    const command_result first = run_tool(args);
    ASSERT_EQ(first.exit_status, 0) << first.err;
    expect_same_split(dir / "chd" / "sample", dir / "sample");
    const command_result again = run_tool(args);
    EXPECT_EQ(again.exit_status, 0) << again.err;
    EXPECT_TRUE(again.out.starts_with("Skipping sample.chd: ") &&
                again.out.find("\nSkipping sample.cue: ") != std::string::npos)
        << again.out;
    // --report adds a line a disc each call: the CHD's tracks as its sheet's.
    std::vector<std::string> lines;
    std::istringstream report(read_file(dir / "report"));
    for (std::string line; std::getline(report, line);)
        lines.push_back(line);
    ASSERT_EQ(lines.size(), 4U);
    const std::string chd_line =
        R"({"sheet":")" + chd.string() + R"(","output":")" + (dir / "chd" / "sample").string() + R"(","status":")";
    EXPECT_TRUE(lines[0].starts_with(chd_line + "done")) << lines[0];
    EXPECT_TRUE(lines[2].starts_with(chd_line + "skipped")) << lines[2];
    EXPECT_EQ(lines[0].substr(lines[0].find("\"tracks\"")), lines[1].substr(lines[1].find("\"tracks\"")));
}

// A hunk of a track damaged: one line names the track, the first damaged
// sector and the cause; those sectors are zeros, every other byte of every
// track is the source's, and no emulator sheet stands for them.
struct damage_row {
    const char* codecs;
    int track;
    const char* file;
    std::vector<std::string> options;
};

void PrintTo(const damage_row& row, std::ostream* os) { *os << row.file << " -c " << row.codecs; }

class ChdDamage : public testing::TestWithParam<damage_row> {};

TEST_P(ChdDamage, CostsThatHunksSectorsAlone)
{
    const damage_row& row = GetParam();
    const fs::path dir = scratch_dir();
    const fs::path cue = copy_disc(dir, "sample");
    std::vector<std::string> args = row.options;
    args.insert(args.end(), {"-o", (dir / "reference").string(), cue.string()});
    ASSERT_EQ(run_tool(args).exit_status, 0);
    const fs::path chd = make_chd(cue, dir / "damaged.chd", row.codecs);

    // A byte in the middle of the hunk that holds the middle of the track.
    file_stream file(std::fopen(chd.c_str(), "rb"));
    chd_header header;
    std::vector<chd_metadata> metadata;
    std::vector<chd_hunk> hunks;
    ASSERT_FALSE(read_chd_header(file.get(), header) || read_chd_metadata(file.get(), header, metadata) ||
                 read_chd_map(file.get(), header, hunks));
    const chd_track track =
        read_chd_tracks(metadata, header.logical_bytes / 2448).tracks[static_cast<std::size_t>(row.track) - 1];
    const chd_hunk& hunk = hunks[static_cast<std::size_t>((track.chd_frame + track.frames / 2) / 8)];
    file.reset();
    std::string bytes = read_file(chd);
    bytes[hunk.offset + hunk.length / 2] = static_cast<char>(~bytes[hunk.offset + hunk.length / 2]);
    write_file(chd, bytes);

    args = row.options;
    args.push_back(chd.string());
    const command_result run = run_tool(args);
    EXPECT_EQ(run.exit_status, 1);
    long long count = 0;
    long long in_track = 0;
    long long in_image = 0;
    const std::string start = "trackcarve: " + std::string(row.file) + ": %lld sectors of track " +
                              std::to_string(row.track) + ", from its sector %lld (sector %lld of the image)";
    ASSERT_EQ(std::sscanf(run.err.c_str(), start.c_str(), &count, &in_track, &in_image), 3) << run.err;
    const std::int64_t track_start = track.bin_sector + (track.pregap_kept ? track.pregap : 0);
    EXPECT_TRUE(count >= 1 && count <= 8 && in_image == track_start + in_track) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_NE(run.err.find("could not be read: hunk "), std::string::npos) << run.err;

    const fs::path ours = dir / "damaged";
    EXPECT_FALSE(fs::exists(ours / "damaged.cue"));
    for (const std::string& name : visible_names(ours))
        EXPECT_TRUE(!name.starts_with("track") || name == row.file ||
                    read_file(ours / name) == read_file(dir / "reference" / "sample" / name))
            << name;
    const bool audio = std::string(row.file).ends_with(".flac");
    std::string expected = audio ? raw_flac(dir / "reference" / "sample" / row.file)
                                 : read_file(dir / "reference" / "sample" / row.file);
    const std::size_t sector = audio ? 2352 : 2048;
    expected.replace(static_cast<std::size_t>(in_track) * sector, static_cast<std::size_t>(count) * sector,
                     static_cast<std::size_t>(count) * sector, '\0');
    EXPECT_TRUE((audio ? raw_flac(ours / row.file) : read_file(ours / row.file)) == expected);
}

INSTANTIATE_TEST_SUITE_P(Hunks, ChdDamage,
                         testing::Values(damage_row{"cdzl", 1, "track1.iso", {"--flac"}},
                                         damage_row{"", 3, "track3.flac", {"--flac"}},
                                         damage_row{"cdlz", 1, "track1.iso", {"-j", "1", "--flac"}}),
                         [](const testing::TestParamInfo<damage_row>& row_info) {
                             return "Track" + std::to_string(row_info.param.track) + "_" + std::to_string(row_info.index);
                         });

// Files that are not a CD CHD read here: one line on standard error that
// names the file and what it is, and nothing made.
struct refusal_row {
    const char* name;
    std::function<std::string(const fs::path& dir, std::string chd)> make;   // the file's bytes
    const char* says;
};

std::string patched(std::string bytes, std::size_t at, const std::string& with)
{
    return bytes.replace(at, with.size(), with);
}

std::uint64_t map_offset(const std::string& chd)
{
    return big_endian(reinterpret_cast<const unsigned char*>(chd.data()) + 40, 8);
}

std::string made_by_chdman(const fs::path& dir, std::vector<std::string> args)
{
    chdman(args);
    return read_file(dir / "made.chd");
}

const refusal_row refusal_rows[] = {
    {"a sheet named .chd", [](const fs::path&, std::string) { return "FILE \"x.bin\" BINARY\n"; }, "is not a CHD"},
    {"an empty file", [](const fs::path&, std::string) { return ""; }, "is not a CHD"},
    {"cut in its header", [](const fs::path&, std::string chd) { return chd.substr(0, 100); }, "is cut short"},
    {"cut before its map", [](const fs::path&, std::string chd) { return chd.substr(0, map_offset(chd)); },
     "is cut short: its hunk map lies past its end"},
    {"cut in its map", [](const fs::path&, std::string chd) { return chd.substr(0, chd.size() - 4); },
     "is cut short: its hunk map runs past its end"},
    {"a version 4 header", [](const fs::path&, std::string chd) { return patched(chd, 15, "\x04"); },
     "is a version 4 CHD"},
    {"a parent's child", [](const fs::path&, std::string chd) { return patched(chd, 110, "\x01"); },
     "holds only what differs from a parent CHD"},
    {"another codec", [](const fs::path&, std::string chd) { return patched(chd, 16, "avhu"); },
     "is compressed with \"avhu\""},
    {"a damaged map", [](const fs::path&, std::string chd) { return patched(chd, map_offset(chd) + 20, "\xA5\x5A"); },
     "is damaged: its hunk map does not decode"},
    {"a damaged track table",
     [](const fs::path&, std::string chd) { return patched(chd, chd.find("TYPE:AUDIO"), "TYPE:AUDIX"); },
     "is damaged: entry 2 of its track table"},
    {"a hard disk's",
     [](const fs::path& dir, std::string) {
         return made_by_chdman(dir, {"createhd", "-o", (dir / "made.chd").string(), "-s", "1048576"});
     },
     "is a hard-disk image, not a CD"},
    {"raw data's",
     [](const fs::path& dir, std::string) {
         write_file(dir / "raw", std::string(65536, 'x'));
         return made_by_chdman(dir, {"createraw", "-i", (dir / "raw").string(), "-o", (dir / "made.chd").string(),
                                     "-hs", "4096", "-us", "512"});
     },
     "holds no CD"},
};

TEST(ChdRefusal, SaysWhatTheFileIsAndMakesNothing)
{
    const fs::path scratch = scratch_dir();
    const std::string chd = read_file(make_chd(copy_disc(scratch, "sample"), scratch / "sample.chd", ""));
    for (const refusal_row& row : refusal_rows) {
        SCOPED_TRACE(row.name);
        const fs::path made = scratch / row.name;
        const fs::path dir = scratch / (std::string(row.name) + " run");
        fs::create_directories(made);
        fs::create_directories(dir);
        write_file(dir / "game.chd", row.make(made, chd));
        const command_result run = run_tool({dir / "game.chd"});
        EXPECT_EQ(run.exit_status, 1);
        EXPECT_EQ(run.out, "Open file game.chd\n\n");
        EXPECT_TRUE(run.err.starts_with("trackcarve: " + (dir / "game.chd").string() + " " + row.says)) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_EQ(names_in(dir), std::vector<std::string>{"game.chd"});
    }
}

// Hunks packed as chdman packs them: a CD codec's bitmap of sectors left
// without sync and ECC, its first stream's length, the sectors, the
// subcodes; or a plain codec's one stream.
std::string zstd_packed(const std::string& bytes)
{
    std::string packed(ZSTD_compressBound(bytes.size()), '\0');
    packed.resize(ZSTD_compress(packed.data(), packed.size(), bytes.data(), bytes.size(), 3));
    return packed;
}

std::string deflate_packed(const std::string& bytes)
{
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::string packed(deflateBound(&z, bytes.size()), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    z.avail_in = static_cast<uInt>(bytes.size());
    z.next_out = reinterpret_cast<Bytef*>(packed.data());
    z.avail_out = static_cast<uInt>(packed.size());
    deflate(&z, Z_FINISH);
    packed.resize(z.total_out);
    deflateEnd(&z);
    return packed;
}

struct hunk_row {
    const char* name;
    const char* codec;
    int mode;              // 0: patterned sectors; 1, 2: MODE1, MODE2 Form 1 sectors, left without sync and ECC
    int first_length_change = 0;   // added to the first stream's stored length
};

const hunk_row hunk_rows[] = {
    {"cdzs, sectors whole", "cdzs", 0},          {"cdzs, MODE1 sectors made whole", "cdzs", 1},
    {"cdzl, MODE2 sectors made whole", "cdzl", 2}, {"zstd, the hunk in one stream", "zstd", 0},
    {"cdzs, a first stream past the end", "cdzs", 0, 100000}, {"cdzs, a cut first stream", "cdzs", 1, -7},
};

TEST(ChdCodecs, UnpackHunksAsChdmanPacksThem)
{
    for (const hunk_row& row : hunk_rows) {
        SCOPED_TRACE(row.name);
        std::string sectors = patterned_sectors(0, 8);
        std::string subcodes(8 * 96, '\0');
        std::string frames;
        std::string bitmap(1, '\0');
        for (int i = 0; i < 8; ++i) {
            const auto at = static_cast<std::size_t>(i);
            auto* sector = reinterpret_cast<unsigned char*>(sectors.data() + at * 2352);
            if (row.mode == 1)
                encode_mode1_sector(sector, i);
            if (row.mode == 2)
                encode_mode2_form1_sector(sector, i);
            subcodes[at * 96 + 3] = static_cast<char>(i + 1);
            frames += sectors.substr(at * 2352, 2352) + subcodes.substr(at * 96, 96);
            if (row.mode != 0) {
                bitmap[0] = static_cast<char>(bitmap[0] | 1 << i);
                std::fill_n(sector, 12, 0);
                std::fill_n(sector + 2076, 276, 0);
            }
        }
        std::string packed;
        if (std::string(row.codec) == "zstd") {
            packed = zstd_packed(frames);
        } else {
            const bool zstd = std::string(row.codec) == "cdzs";
            const std::string first = zstd ? zstd_packed(sectors) : deflate_packed(sectors);
            const auto length = static_cast<std::size_t>(static_cast<long>(first.size()) + row.first_length_change);
            packed = bitmap + static_cast<char>(length >> 8) + static_cast<char>(length & 0xFF) + first +
                     (zstd ? zstd_packed(subcodes) : deflate_packed(subcodes));
        }
        chd_codecs codecs(8 * 2448);
        std::string out(8 * 2448, '\0');
        const std::uint32_t codec = four_cc({row.codec[0], row.codec[1], row.codec[2], row.codec[3], '\0'});
        const bool unpacked = codecs.decompress(codec, reinterpret_cast<const unsigned char*>(packed.data()),
                                                packed.size(), reinterpret_cast<unsigned char*>(out.data()));
        EXPECT_EQ(unpacked, row.first_length_change == 0);
        EXPECT_TRUE(!unpacked || out == frames);
    }
}

} // namespace

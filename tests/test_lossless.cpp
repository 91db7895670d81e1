// --lossless keeps every byte and --restore gives it back: discs of every
// shape split and restored, byte for byte and as chdman reads them; damaged
// folders refused by name; the hashes against coreutils' and gzip's, and
// against a DAT; a split without a manifest given back as a playable image.
#include "support.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

// The data SHA-1 chdman gives the image of a sheet.
std::string chd_data_sha1(const fs::path& cue)
{
    const fs::path chd = cue.parent_path() / (cue.stem().string() + ".chd");
    const command_result made =
        run_command({"/usr/bin/chdman", "createcd", "-f", "-i", cue.string(), "-o", chd.string()});
    EXPECT_NE(made.exit_status, 127) << "chdman is not installed (scripts/install-deps.sh installs mame-tools)";
    EXPECT_EQ(made.exit_status, 0) << made.out << made.err;
    const command_result info = run_command({"/usr/bin/chdman", "info", "-i", chd.string()});
    const std::size_t at = info.out.find("Data SHA1:");
    EXPECT_NE(at, std::string::npos) << info.out << info.err;
    fs::remove(chd);
    return at == std::string::npos ? "" : info.out.substr(at, info.out.find('\n', at) - at);
}

// Audio before track 1's INDEX 01, a hidden track: track00.flac keeps it.
disc hidden_track(const fs::path& dir)
{
    fs::create_directories(dir);
    write_file(dir / "hidden.bin", patterned_sectors(0, 400));
    write_file(dir / "hidden.cue", "FILE \"hidden.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 00 00:00:00\n"
                                   "    INDEX 01 00:02:00\n  TRACK 02 AUDIO\n    INDEX 01 00:04:00\n");
    return {dir / "hidden.cue", {}, "hidden"};
}

// Two BINs whose last sectors are incomplete, the first's within the disc,
// after a data track 1 whose first sectors are raw and not zero.
disc incomplete_sectors(const fs::path& dir)
{
    fs::create_directories(dir);
    write_file(dir / "cut 1.bin", patterned_sectors(0, 50) + std::string(17, '\x5A'));
    write_file(dir / "cut 2.bin", patterned_sectors(50, 60) + std::string(5, '\x33'));
    write_file(dir / "cut.cue", "FILE \"cut 1.bin\" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 00 00:00:00\n"
                                "    INDEX 01 00:00:10\nFILE \"cut 2.bin\" BINARY\n  TRACK 02 AUDIO\n"
                                "    INDEX 01 00:00:20\n");
    return {dir / "cut.cue", {}, "cut"};
}

// A sheet whose FILE line names its BIN in a folder below it.
disc bin_in_a_folder(const fs::path& dir)
{
    fs::create_directories(dir / "CD 1");
    write_file(dir / "CD 1" / "deep.bin", patterned_sectors(0, 300));
    write_file(dir / "deep.cue", "FILE \"CD 1/deep.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n");
    return {dir / "deep.cue", {}, "deep"};
}

// A WAVE file of 16-bit stereo CD audio, then a chunk after its data.
std::string wave_of(const std::string& audio, const std::string& after)
{
    std::string file;
    const auto put = [&file](const char* mark, std::size_t value) {
        file.append(mark);
        for (int shift = 0; shift < 32; shift += 8)
            file.push_back(static_cast<char>(value >> shift));
    };
    put("RIFF", 36 + audio.size() + after.size());
    put("WAVEfmt ", 16);
    put("", 0x00020001);   // PCM, two channels
    put("", 44100);
    put("", 176400);
    put("", 0x00100004);   // four bytes a frame, 16 bits a sample
    put("data", audio.size());
    return file + audio + after;
}

// Two WAVE files, the first ending inside a sector, with bytes around their
// data that the BIN leaves out.
disc wave_files(const fs::path& dir)
{
    fs::create_directories(dir);
    const std::string info("LIST\6\0\0\0INFOab", 14);
    write_file(dir / "rip 1.wav", wave_of(patterned_sectors(0, 200) + std::string(1176, 'a'), info));
    write_file(dir / "rip 2.wav", wave_of(patterned_sectors(201, 100), ""));
    write_file(dir / "rip.cue", "FILE \"rip 1.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
                                "FILE \"rip 2.wav\" WAVE\n  TRACK 02 AUDIO\n    INDEX 01 00:00:00\n");
    return {dir / "rip.cue", {}, "rip"};
}

// A file of 2048-byte MODE1 sectors, then big-endian audio that ends
// inside a sector.
disc iso_and_motorola(const fs::path& dir)
{
    fs::create_directories(dir);
    write_file(dir / "data.iso", patterned_user_data(0, 300));
    write_file(dir / "rip.raw", patterned_sectors(300, 150) + std::string(1000, 'm'));
    write_file(dir / "m.cue", "FILE \"data.iso\" BINARY\n  TRACK 01 MODE1/2048\n    INDEX 01 00:00:00\n"
                              "FILE \"rip.raw\" MOTOROLA\n  TRACK 02 AUDIO\n    INDEX 01 00:00:00\n");
    return {dir / "m.cue", {}, "m"};
}

// One BIN a track, the last sector of two of them incomplete.
disc cut_tracks(const fs::path& dir)
{
    disc d = copy_sample(dir, false, true);
    for (const char* name : {"sample_redump (Track 2).bin", "sample_redump (Track 4).bin"})
        write_file(dir / name, read_file(dir / name) + std::string(100, '\x5A'));
    return d;
}

// What the split reads: the sheet, or an archive or CHD made of its files.
enum class packed { no, zip, seven_zip, chd };

// Makes the disc's files in dir/files and packs them into dir; the path the
// split is given.
fs::path pack_disc(const fs::path& dir, const disc& d, packed how)
{
    const std::string stem = d.cue.stem().string();
    if (how == packed::chd) {
        const fs::path chd = dir / (stem + ".chd");
        const command_result made =
            run_command({"/usr/bin/chdman", "createcd", "-i", d.cue.string(), "-o", chd.string()});
        EXPECT_EQ(made.exit_status, 0) << made.err;
        return chd;
    }
    const fs::path archive = dir / (stem + (how == packed::zip ? ".zip" : ".7z"));
    std::vector<std::string> command{"/usr/bin/bsdtar", "-a", "-cf", archive.string()};
    for (const auto& entry : fs::directory_iterator(d.cue.parent_path()))
        command.push_back(entry.path().filename().string());
    EXPECT_EQ(run_command(command, d.cue.parent_path()).exit_status, 0) << "bsdtar (libarchive-tools)";
    return archive;
}

struct trip_row {
    const char* name;
    disc (*make)(const fs::path& dir);
    std::vector<std::string> track_files;   // the lossless split's, in order
    std::size_t restored;                   // files the restore writes: the BINs and the sheet
    packed how = packed::no;
    const char* err = "";                   // the split's notice, which makes its exit status 1
};
void PrintTo(const trip_row& row, std::ostream* os) { *os << row.name; }

class RoundTrip : public testing::TestWithParam<trip_row> {};

} // namespace

// Split with --lossless on two writers, restored elsewhere: every file as it
// was, and the image chdman makes of the restored sheet the original's.
TEST_P(RoundTrip, RestoreGivesBackEveryByte)
{
    const fs::path dir = scratch_dir();
    const trip_row& row = GetParam();
    const fs::path files = row.how == packed::no ? dir : dir / "files";
    const disc d = row.make(files);
    const fs::path input = row.how == packed::no ? d.cue : pack_disc(dir, d, row.how);
    const command_result split = run_tool({"--lossless", "-j", "2", input});
    EXPECT_EQ(split.err, row.err);
    EXPECT_EQ(split.exit_status, *row.err == '\0' ? 0 : 1);
    std::string shown = input.filename().string();
    if (row.how == packed::zip || row.how == packed::seven_zip)
        shown.append("/").append(d.cue.filename().string());
    EXPECT_TRUE(split.out.ends_with("Done\nLossless: every byte of " + shown + " is kept\n")) << split.out;
    for (const std::string& file : row.track_files)
        EXPECT_TRUE(fs::exists(dir / d.out / file)) << file;

    const command_result restore = run_tool({"--restore", "-o", dir / "back", dir / d.out});
    EXPECT_EQ(restore.err, "");
    EXPECT_EQ(restore.exit_status, 0);
    std::vector<std::string> restored;
    for (const auto& entry : fs::recursive_directory_iterator(dir / "back"))
        if (entry.is_regular_file())
            restored.push_back(entry.path().lexically_relative(dir / "back").string());
    EXPECT_EQ(restored.size(), row.restored);
    // A CHD keeps no sheet: the one it gives back is its own, which chdman
    // must read as the same disc.
    for (const std::string& name : restored)
        if (row.how != packed::chd || !name.ends_with(".cue")) {
            EXPECT_TRUE(read_file(dir / "back" / name) == read_file(files / name)) << name;
        }
    EXPECT_EQ(chd_data_sha1(dir / "back" / d.cue.filename()), chd_data_sha1(d.cue));
}

INSTANTIATE_TEST_SUITE_P(
    Discs, RoundTrip,
    testing::Values(
        trip_row{"Sample", [](const fs::path& dir) { return copy_sample(dir, false, false); },
                 {"track1.iso", "track2.flac", "track3.flac", "track4.flac"}, 2},
        trip_row{"OneFilePerTrack", [](const fs::path& dir) { return copy_sample(dir, false, true); },
                 {"track1.iso", "track2.flac", "track3.flac", "track4.flac"}, 5},
        trip_row{"XaForm2", [](const fs::path& dir) { return xa_disc(dir); }, {"track1.bin", "track2.flac"}, 3},
        trip_row{"HiddenTrack", hidden_track, {"track00.flac", "track1.flac", "track2.flac"}, 2},
        trip_row{"IncompleteSectors", incomplete_sectors, {"track00.bin", "track1.bin", "track2.flac"}, 3},
        trip_row{"BinInAFolder", bin_in_a_folder, {"track1.flac"}, 2},
        trip_row{"WaveFiles", wave_files, {"track1.flac", "track2.flac"}, 3, packed::no,
                 "trackcarve: line 1: rip 1.wav ends 294 audio frames into a sector; the sector is filled with "
                 "silence\n"},
        trip_row{"IsoAndMotorola", iso_and_motorola, {"track1.iso", "track2.flac"}, 3, packed::no,
                 "trackcarve: line 4: rip.raw ends 250 audio frames into a sector; the sector is filled with "
                 "silence\n"},
        trip_row{"SevenZipOfIsoAndMotorola", iso_and_motorola, {"track1.iso", "track2.flac"}, 3, packed::seven_zip,
                 "trackcarve: line 4: rip.raw ends 250 audio frames into a sector; the sector is filled with "
                 "silence\n"},
        trip_row{"ZipOfOneBinATrack", cut_tracks, {"track1.iso", "track2.flac", "track3.flac", "track4.flac"}, 5,
                 packed::zip},
        trip_row{"SevenZipOfOneBinATrack", cut_tracks, {"track1.iso", "track2.flac", "track3.flac", "track4.flac"},
                 5, packed::seven_zip},
        trip_row{"SevenZip", hidden_track, {"track00.flac", "track1.flac", "track2.flac"}, 2, packed::seven_zip},
        trip_row{"Chd", [](const fs::path& dir) { return copy_sample(dir, false, true); },
                 {"track1.iso", "track2.flac", "track3.flac", "track4.flac"}, 5, packed::chd}),
    [](const testing::TestParamInfo<trip_row>& row) { return std::string(row.param.name); });

// A restore takes nothing on trust: a damaged track file, or a file of the
// same name already there with other bytes, stops it for that folder, naming
// the file, and it puts nothing in place; a file there with the same bytes
// is left as it is.
TEST(Restore, RefusesWhatDoesNotGiveBackTheBytes)
{
    const fs::path dir = scratch_dir();
    const disc d = copy_sample(dir, false, false);
    ASSERT_EQ(run_tool({"--lossless", d.cue}).exit_status, 0);
    const auto damaged = [&](const char* file) {
        const fs::path copy = dir / (std::string("damaged-") + file);
        fs::copy(dir / "sample", copy);
        std::string bytes = read_file(copy / file);
        bytes[bytes.size() / 2] ^= 0x10;
        write_file(copy / file, bytes);
        return copy;
    };
    // A manifest whose word is a number, as a hand edit may leave it.
    const fs::path edited = dir / "edited";
    fs::copy(dir / "sample", edited);
    std::string manifest = read_file(edited / "sample.manifest.json");
    manifest.replace(manifest.find("\"manifest\": \""), 13, "\"manifest\": 1, \"x\": \"");
    write_file(edited / "sample.manifest.json", manifest);
    const struct {
        fs::path folder;
        std::string there;   // the bytes of back/sample.bin beforehand; "" for none
        int status;
        std::string err;     // its first line
    } rows[] = {
        {damaged("track3.flac"), "", 1, "trackcarve: track3.flac does not give back the bytes the manifest records\n"},
        {damaged("track1.iso"), "", 1, "trackcarve: track1.iso does not give back the bytes the manifest records\n"},
        {edited, "", 1, "trackcarve: " + edited.string() + ": sample.manifest.json: its entries are not well formed; "
                        "nothing restored\n"},
        {dir / "sample", "not the BIN", 1,
         "trackcarve: " + (dir / "back" / "sample.bin").string() + " is there and is not the file " +
             (dir / "sample").string() + " gives back; nothing restored from it\n"},
        {dir / "sample", d.bytes, 0, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.folder.filename().string() + " over " + std::to_string(row.there.size()) + " bytes");
        fs::remove_all(dir / "back");
        fs::create_directories(dir / "back");
        if (!row.there.empty())
            write_file(dir / "back" / "sample.bin", row.there);
        const command_result run = run_tool({"--restore", "-o", dir / "back", row.folder});
        EXPECT_EQ(run.exit_status, row.status);
        EXPECT_EQ(run.err.substr(0, run.err.find('\n') + 1), row.err);
        const std::vector<std::string> names = names_in(dir / "back");
        const std::set<std::string> left{names.begin(), names.end()};
        const std::set<std::string> expected = row.status == 0 ? std::set<std::string>{"sample.bin", "sample.cue"}
                                               : row.there.empty() ? std::set<std::string>{}
                                                                   : std::set<std::string>{"sample.bin"};
        EXPECT_EQ(left, expected);
        if (row.status == 0) {
            EXPECT_NE(run.out.find("sample.bin is there already, identical: left as it is\n"), std::string::npos);
        }
    }
}

// A split that cannot show every byte kept writes no manifest, says which
// track, and removes the one an earlier run left.
TEST(Lossless, NoManifestWithoutTheProof)
{
    const fs::path dir = scratch_dir();
    const disc d = copy_sample(dir, false, false);
    ASSERT_EQ(run_tool({"--lossless", d.cue}).exit_status, 0);
    ASSERT_TRUE(fs::exists(dir / "sample" / "sample.manifest.json"));
    write_file(dir / "sample.bin", d.bytes.substr(0, d.bytes.size() - 400 * 2352));
    const command_result cut = run_tool({"--lossless", d.cue});
    EXPECT_EQ(cut.exit_status, 1);
    EXPECT_NE(cut.err.find("trackcarve: sample.manifest.json not written: track3.flac could not be shown to give "
                           "back its bytes\n"),
              std::string::npos)
        << cut.err;
    EXPECT_EQ(cut.out.find("Lossless"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir / "sample" / "sample.manifest.json"));
}

namespace {

std::string digest_line(const std::vector<std::string>& command)
{
    const command_result r = run_command(command);
    EXPECT_EQ(r.exit_status, 0) << r.err;
    return r.out.substr(0, r.out.find(' '));
}

// The CRC32 gzip stores in its trailer, little-endian: no program of ours.
std::string gzip_crc32(const fs::path& file)
{
    const command_result r = run_command({"/bin/gzip", "-c", file.string()});
    const std::string trailer = r.out.substr(r.out.size() - 8, 4);
    char hex[9];
    std::snprintf(hex, sizeof hex, "%02x%02x%02x%02x", static_cast<unsigned char>(trailer[3]),
                  static_cast<unsigned char>(trailer[2]), static_cast<unsigned char>(trailer[1]),
                  static_cast<unsigned char>(trailer[0]));
    return hex;
}

struct file_hashes {
    std::string name, size, crc32, md5, sha1;
};

std::vector<file_hashes> coreutils_hashes(const fs::path& dir, const std::vector<std::string>& names)
{
    std::vector<file_hashes> hashes;
    for (const std::string& name : names)
        hashes.push_back({name, std::to_string(fs::file_size(dir / name)), gzip_crc32(dir / name),
                          digest_line({"/usr/bin/md5sum", (dir / name).string()}),
                          digest_line({"/usr/bin/sha1sum", (dir / name).string()})});
    return hashes;
}

// A Logiqx DAT of one game; a rom's SHA-1 left out where sha1 is false.
std::string dat_of(const std::string& game, const std::vector<file_hashes>& files, bool sha1 = true)
{
    std::string text = "<?xml version=\"1.0\"?>\n<!DOCTYPE datafile PUBLIC \"-//Logiqx//DTD ROM Management "
                       "Datafile//EN\" \"http://www.logiqx.com/Dats/datafile.dtd\">\n<datafile>\n  <header>"
                       "<name>Test</name></header>\n  <game name=\"" + game + "\">\n";
    for (const file_hashes& f : files)
        text += "    <rom name=\"" + f.name + "\" size=\"" + f.size + "\" crc=\"" + f.crc32 + "\" md5=\"" + f.md5 +
                (sha1 ? "\" sha1=\"" + f.sha1 : std::string()) + "\"/>\n";
    return text + "  </game>\n</datafile>\n";
}

} // namespace

// --hash gives coreutils' MD5 and SHA-1 and gzip's CRC32 of the sheet and
// each BIN, read once by the writers side by side; --dat checks them.
TEST(Hashes, AreCoreutilsAndCheckAgainstADat)
{
    const fs::path dir = scratch_dir();
    const disc d = copy_sample(dir, false, true);
    std::vector<std::string> names{"sample_redump.cue"};
    for (int track = 1; track <= 4; ++track)
        names.push_back("sample_redump (Track " + std::to_string(track) + ").bin");
    const std::vector<file_hashes> hashes = coreutils_hashes(dir, names);
    const command_result hashed = run_tool({"--hash", "-j", "3", d.cue});
    EXPECT_EQ(hashed.exit_status, 0);
    std::string lines = "Done\n";
    for (const file_hashes& f : hashes)
        lines += f.name + ": " + f.size + " bytes, CRC32 " + f.crc32 + ", MD5 " + f.md5 + ", SHA-1 " + f.sha1 + "\n";
    EXPECT_TRUE(hashed.out.ends_with(lines)) << hashed.out;

    const std::string game = "Sample &amp; Co (Disc 1)";
    const std::string bin3 = "sample_redump (Track 3).bin";
    std::string changed = read_file(dir / bin3);
    changed[1000] = static_cast<char>(changed[1000] ^ 0x40);
    const struct {
        std::string dat;
        std::string changed_bin;   // "" for the BIN as it is
        int status;
        std::string tail;          // of standard output
        std::string err;
    } rows[] = {
        {dat_of(game, hashes), "", 0, "Verified: Sample & Co (Disc 1)\nThe sheet matches the DAT's sample_redump.cue\n",
         ""},
        {dat_of(game, hashes, false), "", 0,
         "Verified: Sample & Co (Disc 1)\nThe sheet matches the DAT's sample_redump.cue\n", ""},
        {dat_of(game, {hashes[1], hashes[2], hashes[3], hashes[4], {"extra.bin", "4", "0", "0", "0"}}), "", 1,
         "Done\n", "trackcarve: the sheet has no file for extra.bin of Sample & Co (Disc 1) in the DAT\n"},
        {dat_of(game, hashes), changed, 1,
         "Done\nThe sheet matches the DAT's sample_redump.cue\n",
         "trackcarve: " + bin3 + " matches no file of Sample & Co (Disc 1) in the DAT\n"
         "trackcarve: the sheet has no file for " + bin3 + " of Sample & Co (Disc 1) in the DAT\n"},
        {"<datafile><game name=\"x\">", "", 2, "", ""},
    };
    const std::string original = read_file(dir / bin3);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.tail + row.err);
        write_file(dir / "game.dat", row.dat);
        write_file(dir / bin3, row.changed_bin.empty() ? original : row.changed_bin);
        fs::remove_all(dir / "sampleredump");
        const command_result run = run_tool({"--dat", dir / "game.dat", d.cue});
        EXPECT_EQ(run.exit_status, row.status);
        EXPECT_TRUE(run.out.ends_with(row.tail)) << run.out;
        if (row.status == 2) {
            EXPECT_EQ(run.err, "trackcarve: cannot read the DAT " + (dir / "game.dat").string() +
                                   ": not XML: no element found at line 1\n");
            EXPECT_FALSE(fs::exists(dir / "sampleredump"));
        } else {
            EXPECT_EQ(run.err, row.err);
        }
    }
}

// A split without --lossless has no manifest: its folder gives a playable
// image, one BIN and its sheet, which mednafen reads as it reads the source,
// with a line that says it is not the dump; --report has its files' hashes.
TEST(Restore, PlayableImageOfASplitWithoutManifest)
{
    const fs::path dir = scratch_dir();
    const disc d = copy_sample(dir, false, true);
    ASSERT_EQ(run_tool({d.cue}).exit_status, 0);
    const command_result run = run_tool({"--restore", "--report", dir / "log.jsonl", dir / "sampleredump"});
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_TRUE(run.out.ends_with("Done\nNot the original dump: sampleredump-playable.bin is a playable image, as "
                                  "sampleredump has no manifest (a split without --lossless); its audio is decoded "
                                  "from Ogg Vorbis, which does not keep the disc's samples; its data sectors are "
                                  "rebuilt as MODE1 from the 2048 bytes of each\n"))
        << run.out;
    EXPECT_EQ(mednafen_lbas(dir / "sampleredump-playable.cue"), mednafen_lbas(d.cue));
    const std::string sha1 = digest_line({"/usr/bin/sha1sum", (dir / "sampleredump-playable.bin").string()});
    EXPECT_NE(read_file(dir / "log.jsonl").find("\"name\":\"sampleredump-playable.bin\",\"size\":" +
                                                 std::to_string(fs::file_size(dir / "sampleredump-playable.bin"))),
              std::string::npos);
    EXPECT_NE(read_file(dir / "log.jsonl").find("\"sha1\":\"" + sha1 + "\",\"restored\":true"), std::string::npos);
}

// make_sample_disc: builds the small CD image used by the README demo and the
// end-to-end tests: one data track (an ISO 9660 image made by xorriso) and
// three short audio tracks, as a CUE sheet plus one BIN of raw 2352-byte
// sectors, or one BIN per track.
//
//   make_sample_disc OUTDIR [--mode2] [--redump]
//   make_sample_disc --help
//
// Every output is byte-identical from run to run, so tests can compare against
// the reference files written next to the image. The parts: sector_encoder
// (EDC/ECC), sample_iso (the data track's files and image), sample_music
// (the audio), sample_sheet (the CUE sheets).
#include "sample_disc.h"
#include "sample_iso.h"
#include "sample_music.h"
#include "sample_sheet.h"
#include "sector_encoder.h"

#include <cstdio>
#include <exception>
#include <iostream>
#include <string>

namespace {

void write_per_track_disc(const fs::path& outdir, const std::string& name, bool mode2, const byte_vector& data,
                          int data_sectors)
{
    write_file(outdir / per_track_bin_name(name, 1), data.data(), data.size());
    byte_vector joined = data;
    for (std::size_t i = 0; i < 3; ++i) {
        byte_vector track(gap_sectors * raw_sector_size, 0);
        append_music_track(track, i);
        write_file(outdir / per_track_bin_name(name, static_cast<int>(i) + 2), track.data(), track.size());
        joined.insert(joined.end(), track.begin(), track.end());
    }
    write_text(outdir / (name + ".cue"), per_track_sheet(name, mode2));
    write_file(outdir / (name + "-merged.bin"), joined.data(), joined.size());
    write_text(outdir / (name + "-merged.cue"), joined_sheet(name + "-merged.bin", mode2, data_sectors));
}

void write_one_bin_disc(const fs::path& outdir, const std::string& name, bool mode2, byte_vector bin,
                        int data_sectors)
{
    for (std::size_t i = 0; i < 3; ++i)
        append_music_track(bin, i);
    write_file(outdir / (name + ".bin"), bin.data(), bin.size());
    write_text(outdir / (name + ".cue"), one_bin_sheet(name + ".bin", mode2, data_sectors));
}

void make_disc(const fs::path& outdir, bool mode2, bool redump)
{
    const std::string name = std::string(redump ? "sample_redump" : "sample") + (mode2 ? "_mode2" : "");
    fs::create_directories(outdir);
    write_sample_files(outdir / (name + "-files"));
    const byte_vector iso = make_iso(outdir / (name + "-files"), outdir / (name + ".iso"));

    byte_vector data = encode_data_track(iso, mode2);
    const int data_sectors = static_cast<int>(iso.size() / block_size);
    if (redump)
        write_per_track_disc(outdir, name, mode2, data, data_sectors);
    else
        write_one_bin_disc(outdir, name, mode2, std::move(data), data_sectors);
    std::printf("%s: data track %d sectors, audio %d+%d+%d sectors\n", name.c_str(), data_sectors,
                sample_music[0].sectors, sample_music[1].sectors, sample_music[2].sectors);
}

constexpr const char* usage_line = "usage: make_sample_disc OUTDIR [--mode2] [--redump]\n";

// Asks for the help: -h or --help anywhere.
bool asks_for_help(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i)
        if (std::string(argv[i]) == "-h" || std::string(argv[i]) == "--help")
            return true;
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    if (asks_for_help(argc, argv)) {
        std::cout << usage_line
                  << "Makes the sample CD image in OUTDIR (made when missing): a CUE sheet and its BIN,\n"
                     "one data track (an ISO 9660 image) and three short audio tracks, with the files\n"
                     "the tests compare against.\n"
                     "  --mode2   the data track in MODE2/2352 (XA Form 1) sectors\n"
                     "  --redump  one BIN per track, and NAME-merged.cue over one BIN\n";
        return 0;
    }
    bool mode2 = false;
    bool redump = false;
    // OUTDIR first; a name like an option there is a mistake, not a folder.
    bool usage_ok = argc >= 2 && argv[1][0] != '-';
    for (int i = 2; i < argc; ++i) {
        const std::string option = argv[i];
        mode2 = mode2 || option == "--mode2";
        redump = redump || option == "--redump";
        usage_ok = usage_ok && (option == "--mode2" || option == "--redump");
    }
    if (!usage_ok) {
        std::cerr << usage_line;
        return 2;
    }
    try {
        make_disc(argv[1], mode2, redump);
    } catch (const std::exception& e) {
        std::cerr << "make_sample_disc: " << e.what() << "\n";
        return 1;
    }
    return 0;
}

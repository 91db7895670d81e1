#include "sample_sheet.h"

#include "sample_disc.h"
#include "sample_music.h"

#include <cstdio>

namespace {

std::string msf(int sectors)
{
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", sectors / 4500, sectors / 75 % 60, sectors % 75);
    return text;
}

std::string data_track_lines(const std::string& bin_name, bool mode2)
{
    return "FILE \"" + bin_name + "\" BINARY\n" + "  TRACK 01 " + (mode2 ? "MODE2/2352" : "MODE1/2352") + "\n" +
           "    INDEX 01 00:00:00\n";
}

} // namespace

std::string one_bin_sheet(const std::string& bin_name, bool mode2, int data_sectors)
{
    std::string cue = data_track_lines(bin_name, mode2);
    int start = data_sectors;
    for (int i = 0; i < 3; ++i) {
        cue += "  TRACK 0" + std::to_string(i + 2) + " AUDIO\n";
        // A gap stored in the BIN (INDEX 00) before a gap that is not (PREGAP),
        // so every track lies whole in the BIN where the splitter looks for it.
        if (i == 1)
            cue += "    INDEX 00 " + msf(start - gap_sectors) + "\n";
        if (i == 2)
            cue += "    PREGAP " + msf(gap_sectors) + "\n";
        cue += "    INDEX 01 " + msf(start) + "\n";
        start += sample_music[i].sectors;
    }
    return cue;
}

std::string per_track_bin_name(const std::string& name, int track)
{
    return name + " (Track " + std::to_string(track) + ").bin";
}

std::string per_track_sheet(const std::string& name, bool mode2)
{
    std::string cue = data_track_lines(per_track_bin_name(name, 1), mode2);
    for (int track = 2; track <= 4; ++track) {
        cue += "FILE \"" + per_track_bin_name(name, track) + "\" BINARY\n";
        cue += "  TRACK 0" + std::to_string(track) + " AUDIO\n";
        cue += "    INDEX 00 00:00:00\n    INDEX 01 " + msf(gap_sectors) + "\n";
    }
    return cue;
}

std::string joined_sheet(const std::string& bin_name, bool mode2, int data_sectors)
{
    std::string cue = data_track_lines(bin_name, mode2);
    int start = data_sectors;
    for (int i = 0; i < 3; ++i) {
        cue += "  TRACK 0" + std::to_string(i + 2) + " AUDIO\n";
        cue += "    INDEX 00 " + msf(start) + "\n    INDEX 01 " + msf(start + gap_sectors) + "\n";
        start += gap_sectors + sample_music[i].sectors;
    }
    return cue;
}

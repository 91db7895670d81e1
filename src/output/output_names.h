// Every name the run gives a file in its output folder: the track files, the
// TOC, the emulator sheet, the owner record and the temporaries they are
// written under; and beside it, a multi-disc set's playlist. The one place
// these names, and the paths of the folder, are formed.
#pragma once

#include "base/paths.h"
#include "output/track_format.h"

#include <cstdint>
#include <string>
#include <string_view>

// The output folder, out_parent + out_name, and the path of a file in it.
// The run's paths were derived to leave room for every name given here.
std::string output_dir_path(const run_paths& paths);
std::string output_path(const run_paths& paths, std::string_view name);

struct track_file_name {
    char text[32];   // "track" + up to 10 digits + "." + the codec's extension
};

// "trackN.iso" (or "trackN.bin" for raw data) for a data track, "trackN.ogg"
// (or the extension of the format's codec) for an audio track; N without
// leading zeros. The hidden track before track 1, number 0, is "track00.ogg"
// (or the codec's extension): apart from every track's name, and first in
// a folder's listing.
track_file_name name_track_file(std::int32_t number, bool is_audio, const track_format& format);

// The data track is written as its raw sectors: --raw-data, or --lossless
// chose it for the track (track 0, the sectors before track 1, always).
bool is_raw_track(std::int32_t number, const track_format& format);

// NAME.manifest.json (cue/manifest.h): what a --lossless split keeps of its
// source, written last. A restore finds it by its suffix.
std::string manifest_file_name(const run_paths& paths);

// What a restore of a split without a manifest writes: NAME-playable.bin and
// NAME-playable.cue, after the split folder's name.
std::string playable_image_name(const std::string& folder_name, const char* extension);

// NAME.toc and NAME.cue, after the output name; NAME.<extension> for a file
// that emulators look for beside the sheet they load (NAME.sbi).
std::string toc_file_name(const run_paths& paths);
std::string companion_file_name(const run_paths& paths, const std::string& extension);
std::string emulator_sheet_file_name(const run_paths& paths);
std::string emulator_sheet_file_name(const std::string& out_name);

// A sheet's name read as one disc of a set: "Game (Disc 2)" is disc 2 of
// "Game", as are "Game Disc 2" and "Game CD 2".
struct disc_in_set {
    bool found = false;
    int number = 0;
    std::string set_name;   // the name with its disc part taken out
};

// The last "(Disc N)", "Disc N" or "CD N" part of a name without its
// extension, in any letter case, N of one to three digits; none when the
// name holds nothing else.
disc_in_set find_disc_part(const std::string& name);

// SET.m3u: the playlist of a multi-disc set, after its cleaned name.
std::string playlist_file_name(const std::string& set_name);

// The owner record, ".trackcarve-owner": the name of the sheet the folder
// belongs to. And ".trackcarve-lock", the file Windows locks the folder by.
const char* owner_file_name();
const char* folder_lock_file_name();

// The record of what the split is, ".trackcarve-record" (split_record.h).
const char* record_file_name();

// The temporary a file of the folder is written under before it is renamed
// over its name: ".<name>.<process id>.trackcarve-tmp", hidden, unique to the
// process, and recognisable later by its suffix.
std::string temporary_file_name(const char* name, unsigned long process_id);

// The temporary that the nth file a sheet's archive holds is unpacked to,
// beside the output folder: ".<out_name>.unpacked<n>.<process id>.trackcarve-tmp".
std::string unpacked_file_path(const run_paths& paths, std::size_t n, unsigned long process_id);

// The process id in a temporary's name, or 0 when the name is not one.
unsigned long temporary_owner(const char* name);

// The names every output path is built from, derived once from the CUE path.
#pragma once

#include <cstddef>
#include <string>

inline constexpr std::size_t path_capacity = 1024;   // bytes, terminator included
inline constexpr std::size_t out_name_limit = 25;    // letters and digits kept
inline constexpr std::size_t full_name_limit = 200;  // bytes kept of a whole name (--full-names)
inline constexpr const char* fallback_out_name = "disc";

struct run_paths {
    char cue_dir[path_capacity];      // the CUE path up to its base name (base_name): the BINs are here
    char out_parent[path_capacity];   // where the output directory is made: cue_dir, or the -o folder
    char out_name[full_name_limit + 1];   // names the output directory and the TOC
};

// How the command line asks the outputs to be named and placed.
struct output_naming {
    const char* output_dir = nullptr;   // -o: the output directories are made in it; null or "" beside the sheet
    bool full_names = false;            // the sheet's whole name, not 25 letters and digits of it
};

// The part of a path after its folders, as this system splits it: after the
// last '/' on POSIX, where ':' and '\' are bytes of a name; after the last
// ':', '\' or '/' on Windows. A pointer into the path.
const char* base_name(const char* path);

// The part of a name after its last ':', '\' or '/', whatever system it was
// written on: for a name a CUE sheet gives, which may come from anywhere.
const char* base_name_anywhere(const char* name);

// Fills cue_dir, out_parent and out_name from the CUE path. Returns false
// when the output folder's path leaves no room in a path buffer for the
// longest output path.
bool derive_paths(const char* cue_path, run_paths& paths, const output_naming& naming = {});

// The output name a sheet's name gives. Short: its letters and digits up to
// the first '.', at most 25. Full: the name as it stands, but each byte no
// Windows or POSIX file name can hold ('<>:"/\|?*', control bytes, a
// trailing dot or space) is '_', at most 200 bytes cut on a UTF-8 character
// boundary. "disc" when nothing is left. `name` has no extension to cut: the
// caller takes off what is not part of the name.
std::string clean_output_name(const std::string& name, bool full_names);

// A file name up to its last '.': what --full-names keeps of a sheet's name.
std::string name_without_extension(const char* name);

// Makes out_parent and each folder above it that is missing (an -o folder
// that does not exist yet). Returns 0, or the errno of the first folder
// that could not be made, whose path goes into failed.
int make_output_parent(const run_paths& paths, std::string& failed);

// The paths of a folder that is itself the output directory: for the files
// written beside the output directories (a multi-disc playlist), with
// out_parent the folder's own parent. False when its last name does not fit.
bool paths_of_folder(const char* folder, run_paths& paths);

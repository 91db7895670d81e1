// The names every output path is built from, derived once from the CUE path.
#pragma once

#include <cstddef>

inline constexpr std::size_t path_capacity = 1024;   // bytes, terminator included
inline constexpr std::size_t out_name_limit = 25;    // letters and digits kept
inline constexpr const char* fallback_out_name = "disc";

struct run_paths {
    char cue_dir[path_capacity];   // the CUE path up to its last ':', '\' or '/'
    char out_name[32];             // names the output directory and the TOC
};

// The part of a path after its last ':', '\' or '/'; a pointer into the path.
const char* base_name(const char* path);

// Fills cue_dir and out_name from the CUE path. Returns false when the
// directory prefix leaves no room in a path buffer for the longest output path.
bool derive_paths(const char* cue_path, run_paths& paths);

// cue_dir + out_name: the output directory.
bool format_output_dir(const run_paths& paths, char (&buffer)[path_capacity]);

// A file inside the output directory. False when the path does not fit.
bool format_output_path(const run_paths& paths, const char* file_name, char (&buffer)[path_capacity]);

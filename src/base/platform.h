// The few calls that differ between POSIX and Windows.
#pragma once

#include "base/file_stream.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#ifdef _WIN32
inline constexpr char path_separator = '\\';
#else
inline constexpr char path_separator = '/';
#endif

// The format checks of printf-like functions: MinGW's own printf (which knows
// %lld) where the runtime's would not.
#if defined(__MINGW_PRINTF_FORMAT)
#define TRACKCARVE_PRINTF_FORMAT __MINGW_PRINTF_FORMAT
#else
#define TRACKCARVE_PRINTF_FORMAT printf
#endif

// Opens an existing regular file for binary reading; a directory, a FIFO or
// a device is refused (POSIX would open a directory and fail only on the
// first read, and a FIFO would block).
file_stream open_regular_file(const char* path);

// Creates or truncates a file for binary writing. Where the system has
// symbolic links, one at that name is refused, not followed.
file_stream create_output_file(const char* path);

// Makes the file bytes longer with zeros at its end, in one call: where the
// file system allows, as a hole that takes no space and no time.
bool append_zeros(std::FILE* file, std::int64_t bytes);

// Creates one directory; fails when it exists already.
bool make_directory(const char* path);

// 64-bit seek from the start and size; a 32-bit long cannot reach past 2 GiB.
bool seek_to(std::FILE* file, std::int64_t offset);
std::int64_t file_size(std::FILE* file);

// Waits for a key press where the console has a "pause" command.
void wait_for_key();

// The name a sheet's FILE line gives, as a path inside the program takes it:
// UTF-8. POSIX takes the bytes as they are. Windows keeps a name that is valid
// UTF-8 and reads any other in the ANSI code page, as sheets written for the
// narrow Windows calls are.
std::string file_name_from_sheet(const char* name);

#ifdef _WIN32
// The command line as the run takes it: every argument in UTF-8, and one
// with * or ? replaced by the names that match it (Windows' shells leave
// that to the program), sorted by name with letter case ignored, as NTFS
// lists them; an argument that matches nothing stays as it is.
std::vector<std::string> utf8_arguments(int argc, wchar_t** argv);
#endif

#include "base/paths.h"

#include "base/platform.h"

#include <cstdio>
#include <cstring>

namespace {

bool is_input_separator(char c) { return c == ':' || c == '\\' || c == '/'; }

bool is_ascii_alnum(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// The longest path built under cue_dir: "<out_name><sep><out_name>.toc".
constexpr std::size_t longest_output_suffix = out_name_limit + 1 + out_name_limit + 4;

char ascii_upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Windows opens CON, PRN, AUX, NUL, COM1-COM9 and LPT1-LPT9 (in any case) as
// devices in every folder, so no folder or file can have those names. An
// output name is letters and digits only: the whole name is compared.
bool is_dos_device_name(const char* name)
{
    char upper[5] = {};
    std::size_t length = 0;
    for (; name[length] != '\0'; ++length) {
        if (length == 4)
            return false;
        upper[length] = ascii_upper(name[length]);
    }
    if (length == 3)
        return std::strcmp(upper, "CON") == 0 || std::strcmp(upper, "PRN") == 0 ||
               std::strcmp(upper, "AUX") == 0 || std::strcmp(upper, "NUL") == 0;
    return length == 4 && (std::strncmp(upper, "COM", 3) == 0 || std::strncmp(upper, "LPT", 3) == 0) &&
           upper[3] >= '1' && upper[3] <= '9';
}

void derive_out_name(const char* name, char (&out_name)[32])
{
    std::size_t kept = 0;
    for (const char* p = name; *p != '\0' && *p != '.' && kept < out_name_limit; ++p) {
        if (is_ascii_alnum(*p))
            out_name[kept++] = *p;
    }
    out_name[kept] = '\0';
    // An empty name would drop the outputs into cue_dir itself; a device name
    // on Windows would send them to the device.
    if (kept == 0 || (device_names_reserved && is_dos_device_name(out_name)))
        std::snprintf(out_name, sizeof out_name, "%s", fallback_out_name);
}

bool formatted(int length) { return length >= 0 && static_cast<std::size_t>(length) < path_capacity; }

} // namespace

const char* base_name(const char* path)
{
    const char* name = path;
    for (const char* p = path; *p != '\0'; ++p) {
        if (is_input_separator(*p))
            name = p + 1;
    }
    return name;
}

bool derive_paths(const char* cue_path, run_paths& paths)
{
    const char* name = base_name(cue_path);
    const auto dir_length = static_cast<std::size_t>(name - cue_path);
    if (dir_length + longest_output_suffix >= path_capacity)
        return false;
    std::memcpy(paths.cue_dir, cue_path, dir_length);
    paths.cue_dir[dir_length] = '\0';
    derive_out_name(name, paths.out_name);
    return true;
}

bool format_output_dir(const run_paths& paths, char (&buffer)[path_capacity])
{
    return formatted(std::snprintf(buffer, path_capacity, "%s%s", paths.cue_dir, paths.out_name));
}

bool format_output_path(const run_paths& paths, const char* file_name, char (&buffer)[path_capacity])
{
    return formatted(std::snprintf(buffer, path_capacity, "%s%s%c%s", paths.cue_dir, paths.out_name,
                                   path_separator, file_name));
}

bool format_toc_path(const run_paths& paths, char (&buffer)[path_capacity])
{
    return formatted(std::snprintf(buffer, path_capacity, "%s%s%c%s.toc", paths.cue_dir,
                                   paths.out_name, path_separator, paths.out_name));
}

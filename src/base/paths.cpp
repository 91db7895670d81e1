#include "base/paths.h"

#include "base/platform.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

bool is_any_separator(char c) { return c == ':' || c == '\\' || c == '/'; }

// Where this system splits a path: '/', and on Windows '\' and a drive's ':'.
bool is_path_separator(char c) { return c == '/' || (path_separator == '\\' && (c == '\\' || c == ':')); }

const char* after_last(const char* path, bool (*is_separator)(char))
{
    const char* name = path;
    for (const char* p = path; *p != '\0'; ++p) {
        if (is_separator(*p))
            name = p + 1;
    }
    return name;
}

// A separator in a folder path the command line gives (-o): '/' everywhere,
// and the platform's own.
bool is_folder_separator(char c) { return c == '/' || c == path_separator; }

bool is_ascii_alnum(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// The longest path built under cue_dir: "<out_name><sep><out_name>.toc".
constexpr std::size_t longest_output_suffix = out_name_limit + 1 + out_name_limit + 4;

char ascii_upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Windows opens CON, PRN, AUX, NUL, COM1-COM9 and LPT1-LPT9 (in any case) as
// devices in every folder, so no folder or file can have those names. The
// whole name is compared.
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

// Windows takes "CON.txt" and "CON ." for the device too: the name up to its
// first dot, without the spaces before it.
bool names_a_dos_device(const std::string& name)
{
    std::string stem = name.substr(0, name.find('.'));
    while (!stem.empty() && stem.back() == ' ')
        stem.pop_back();
    return is_dos_device_name(stem.c_str());
}

std::string short_output_name(const std::string& name)
{
    std::string kept;
    for (const char c : name) {
        if (c == '.' || kept.size() == out_name_limit)
            break;
        if (is_ascii_alnum(c))
            kept += c;
    }
    // An empty name would drop the outputs into the parent itself; a device
    // name on Windows would send them to the device.
    if (kept.empty() || (device_names_reserved && is_dos_device_name(kept.c_str())))
        return fallback_out_name;
    return kept;
}

bool is_forbidden_in_file_names(unsigned char c)
{
    return c < 32 || c == 127 || std::strchr("<>:\"/\\|?*", c) != nullptr;
}

bool is_utf8_continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

std::string full_output_name(const std::string& name)
{
    std::string kept = name;
    for (char& c : kept)
        if (is_forbidden_in_file_names(static_cast<unsigned char>(c)))
            c = '_';
    // The device's name in front would still be the device: a '_' first.
    if (device_names_reserved && names_a_dos_device(kept))
        kept.insert(0, 1, '_');
    if (kept.size() > full_name_limit) {
        std::size_t cut = full_name_limit;
        for (int back = 0; back < 3 && cut > 0 && is_utf8_continuation(static_cast<unsigned char>(kept[cut])); ++back)
            --cut;
        kept.resize(cut);
    }
    // Windows drops a name's trailing dots and spaces, which would make it
    // another name (and "." or ".." no name at all).
    for (std::size_t i = kept.size(); i > 0 && (kept[i - 1] == '.' || kept[i - 1] == ' '); --i)
        kept[i - 1] = '_';
    return kept.empty() ? fallback_out_name : kept;
}

bool formatted(int length) { return length >= 0 && static_cast<std::size_t>(length) < path_capacity; }

// The -o folder, ending in a separator so that a name can follow it.
bool derive_out_parent(const char* output_dir, char (&out_parent)[path_capacity])
{
    const char last = output_dir[std::strlen(output_dir) - 1];
    const bool ends_in_separator = is_folder_separator(last) || (device_names_reserved && last == ':');
    const char separator[2] = {path_separator, '\0'};
    return formatted(std::snprintf(out_parent, path_capacity, "%s%s", output_dir, ends_in_separator ? "" : separator));
}

} // namespace

const char* base_name(const char* path) { return after_last(path, is_path_separator); }

const char* base_name_anywhere(const char* name) { return after_last(name, is_any_separator); }

std::string name_without_extension(const char* name)
{
    const char* dot = std::strrchr(name, '.');
    return dot == nullptr ? std::string(name) : std::string(name, static_cast<std::size_t>(dot - name));
}

std::string clean_output_name(const std::string& name, bool full_names)
{
    return full_names ? full_output_name(name) : short_output_name(name);
}

bool derive_paths(const char* cue_path, run_paths& paths, const output_naming& naming)
{
    const char* name = base_name(cue_path);
    const auto dir_length = static_cast<std::size_t>(name - cue_path);
    if (dir_length + longest_output_suffix >= path_capacity)
        return false;
    std::memcpy(paths.cue_dir, cue_path, dir_length);
    paths.cue_dir[dir_length] = '\0';
    const std::string out_name =
        clean_output_name(naming.full_names ? name_without_extension(name) : std::string(name), naming.full_names);
    std::snprintf(paths.out_name, sizeof paths.out_name, "%s", out_name.c_str());
    if (naming.output_dir == nullptr || *naming.output_dir == '\0')
        std::memcpy(paths.out_parent, paths.cue_dir, dir_length + 1);
    else if (!derive_out_parent(naming.output_dir, paths.out_parent))
        return false;
    // "<out_parent><out_name><sep><out_name>.toc" must fit, as a 25-letter name does.
    const std::size_t longest = std::max(longest_output_suffix, 2 * out_name.size() + 5);
    return std::strlen(paths.out_parent) + longest < path_capacity;
}

int make_output_parent(const run_paths& paths, std::string& failed)
{
    const std::string parent = paths.out_parent;
    int first_failure = 0;
    for (std::size_t i = 1; i <= parent.size(); ++i) {
        if (i < parent.size() && !is_folder_separator(parent[i]))
            continue;
        const std::string folder = parent.substr(0, i);
        // A drive ("C:") or a server ("\\server") that cannot be made but is
        // there, or whose share is: only where the folder is still missing
        // at the end does the first failure tell why.
        const bool made = make_directory(folder.c_str()) || errno == EEXIST;
        const int error = errno;
        if (!made && first_failure == 0 && kind_of_path(folder.c_str()) != path_kind::directory) {
            first_failure = error;
            failed = folder;
        }
    }
    return kind_of_path(parent.c_str()) == path_kind::directory ? 0 : first_failure;
}

bool paths_of_folder(const char* folder, run_paths& paths)
{
    std::string path = *folder == '\0' ? std::string(".") : std::string(folder);
    while (path.size() > 1 && is_folder_separator(path.back()))
        path.pop_back();
    std::size_t name_start = path.size();
    while (name_start > 0 && !is_folder_separator(path[name_start - 1]))
        --name_start;
    if (name_start == path.size())   // the root itself: "/"
        name_start = 0;
    const std::string name = path.substr(name_start);
    if (name.size() >= sizeof paths.out_name || name_start >= path_capacity)
        return false;
    std::snprintf(paths.cue_dir, sizeof paths.cue_dir, "%s", path.substr(0, name_start).c_str());
    std::snprintf(paths.out_parent, sizeof paths.out_parent, "%s", paths.cue_dir);
    std::snprintf(paths.out_name, sizeof paths.out_name, "%s", name.c_str());
    return true;
}

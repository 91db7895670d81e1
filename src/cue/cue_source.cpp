#include "cue/cue_source.h"

#include "base/file_stream.h"
#include "base/paths.h"
#include "base/platform.h"
#include "cue/cue_reader.h"
#include "cue/file_kind.h"
#include "cue/file_parts.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace {

// A BIN is looked for in the folder of the sheet's path: the one place a
// BIN's path is built.
std::string bin_path(const std::string& sheet_dir, const std::string& name) { return sheet_dir + name; }

// Opens the BIN a FILE line names only to size it: the track writers open
// it again, so no more than a few files are ever open. A path longer than
// the run's path buffers is not looked for. -1, and why into `why` when
// given, when none opens.
std::int64_t size_bin_file(const std::string& path, std::string* why = nullptr)
{
    if (path.size() >= path_capacity) {
        if (why != nullptr)
            *why = "the path is longer than " + std::to_string(path_capacity - 1) + " bytes";
        return -1;
    }
    file_stream file = open_regular_file(path.c_str());
    if (!file) {
        if (why != nullptr)
            *why = reason_not_opened(path.c_str(), errno);
        return -1;
    }
    const std::int64_t size = file_size(file.get());
    return size < 0 ? 0 : size;
}

bool is_any_separator(char c) { return c == '/' || c == '\\' || c == ':'; }

// A name that, taken as a path from the sheet's folder, stays in it or below:
// not absolute, no drive, no "..". A sheet cannot send the run elsewhere.
bool stays_below(const std::string& name)
{
    const bool has_drive = device_names_reserved && name.find(':') != std::string::npos;
    if (name.empty() || name.front() == '/' || name.front() == '\\' || has_drive)
        return false;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= name.size(); ++i) {
        if (i < name.size() && !is_any_separator(name[i]))
            continue;
        if (name.compare(start, i - start, "..") == 0 && i - start == 2)
            return false;
        start = i + 1;
    }
    return true;
}

char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool same_but_for_case(const std::string& a, const char* b)
{
    return a.size() == std::strlen(b) &&
           std::equal(a.begin(), a.end(), b, [](char x, char y) { return ascii_lower(x) == ascii_lower(y); });
}

// The names of a folder (sheet_dir, or one below it) that are name but for
// the letter case of A to Z, but not name itself; only those of files that
// open when `openable`.
std::vector<std::string> names_but_for_case(const std::string& sheet_dir, const std::string& name,
                                            bool openable = true)
{
    std::vector<std::string> found;
    list_directory(sheet_dir.empty() ? "." : sheet_dir.c_str(), [&](const char* entry) {
        if (same_but_for_case(name, entry) && name != entry &&
            (!openable || size_bin_file(bin_path(sheet_dir, entry)) >= 0))
            found.emplace_back(entry);
    });
    std::sort(found.begin(), found.end());
    return found;
}

std::string listed(const std::vector<std::string>& names)
{
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i)
        text += (i == 0 ? "" : i + 1 == names.size() ? " and " : ", ") + names[i];
    return text;
}

// A FILE line's name: as written, in the sheet's folder or one below it (on
// POSIX also with a '\' of a sheet made on Windows as the folder separator);
// then its base name beside the sheet, wherever the sheet's author kept the
// BIN; then that name in another letter case, as a sheet made where names
// ignore case may have it, when one file alone matches.
bin_found find_bin_file(const std::string& sheet_dir, const std::string& name)
{
    std::vector<std::string> tries;
    if (stays_below(name)) {
        tries.push_back(name);
        std::string slashed = name;
        std::replace(slashed.begin(), slashed.end(), '\\', '/');
        if (path_separator == '/' && slashed != name)
            tries.push_back(slashed);
    }
    const std::string base = base_name_anywhere(name.c_str());
    if (tries.empty() || tries.front() != base)
        tries.push_back(base);
    std::string reasons;
    for (const std::string& tried : tries) {
        std::string why;
        if (const std::int64_t size = size_bin_file(bin_path(sheet_dir, tried), &why); size >= 0)
            return bin_found{size, tried};
        reasons += (reasons.empty() ? "cannot open the BIN " : ", nor ") + bin_path(sheet_dir, tried);
        reasons += " (" + why + ")";
    }
    const std::string folder = sheet_dir.empty() ? "." : sheet_dir;
    const std::string fix = "; put the BIN beside the sheet, in " + folder + ", or correct the FILE line's name";
    if (base.empty() || base == "." || base == "..")
        return bin_found{-1, {}, reasons + fix};
    const std::vector<std::string> matches = names_but_for_case(sheet_dir, base);
    if (matches.size() == 1)
        return bin_found{size_bin_file(bin_path(sheet_dir, matches[0])), matches[0]};
    if (matches.size() > 1)
        return bin_found{-1, {},
                         base + " is not in " + folder + ", and " + listed(matches) +
                             " match it but for letter case; rename the one the sheet means to " + base};
    // A name in another case that is no file, or one in the folder the name
    // gives, which only the name as written is looked for in.
    std::string other_cases;
    for (const std::string& tried : tries) {
        const char* tried_name = base_name(tried.c_str());
        const std::string tried_dir = tried.substr(0, static_cast<std::size_t>(tried_name - tried.c_str()));
        for (const std::string& match : names_but_for_case(sheet_dir + tried_dir, tried_name, false)) {
            const std::string path = bin_path(sheet_dir, tried_dir + match);
            std::string why;
            other_cases += "; " + path + " differs only in letter case" +
                           (size_bin_file(path, &why) < 0 ? " and cannot be opened either (" + why + ")"
                                                          : ": rename it to " + std::string(tried_name));
        }
    }
    return bin_found{-1, {}, reasons + other_cases + fix};
}

// A companion no larger than this is copied; a LibCrypt file is some KB.
constexpr std::int64_t companion_limit = 1 << 20;

// Beside the sheet, named after the sheet or after one of its BINs: a
// PlayStation disc's LibCrypt data. Each kind is read from the first name
// that has it.
void find_companions(disc_source& source, const std::string& sheet_dir, const char* sheet_name)
{
    std::vector<std::string> stems{name_without_extension(sheet_name)};
    for (const bin_file_entry& entry : source.sheet.bin_files)
        stems.push_back(name_without_extension(base_name_anywhere(entry.name.c_str())));
    for (const char* extension : {"sbi", "lsd"}) {
        for (const std::string& stem : stems) {
            const bin_found found = find_bin_file(sheet_dir, stem + "." + extension);
            if (found.size_bytes < 0 || found.size_bytes > companion_limit)
                continue;
            const std::string path = bin_path(sheet_dir, found.name);
            companion_file companion{extension, std::string(static_cast<std::size_t>(found.size_bytes), '\0')};
            file_stream file = open_regular_file(path.c_str());
            if (!file || std::fread(companion.bytes.data(), 1, companion.bytes.size(), file.get()) !=
                             companion.bytes.size())
                continue;
            source.companions.push_back(std::move(companion));
            source.files.push_back(path);
            break;
        }
    }
}

// The sheet's own bytes, read again from its open file once it is known to
// be a sheet.
std::string whole_file(std::FILE* file)
{
    std::string bytes;
    const std::int64_t size = file_size(file);
    if (size <= 0 || !seek_to(file, 0))
        return bytes;
    bytes.resize(static_cast<std::size_t>(size));
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file));
    return bytes;
}

} // namespace

bool is_cue_source(const char*) { return true; }

disc_source read_cue_source(const disc_name& disc)
{
    const char* path = disc.path.c_str();
    disc_source source;
    file_stream cue_file = open_regular_file(path);
    if (!cue_file) {
        source.error.message = reason_not_opened(path, errno);
        return source;
    }
    const std::string sheet_dir(path, static_cast<std::size_t>(base_name(path) - path));
    cue_read read = read_cue_sheet(cue_file.get(), [&sheet_dir](const char* name, bool) {
        bin_found found = find_bin_file(sheet_dir, name);
        if (found.size_bytes >= 0)
            found.content = probe_file(bin_path(sheet_dir, found.name));
        return found;
    });
    source.sheet = std::move(read.sheet);
    source.files.emplace_back(path);
    if (!read.ok) {
        source.result = disc_source::state::malformed;
        source.error = std::move(read.error);
        return source;
    }
    // Any file reads as a sheet without a command: one that has neither a
    // FILE nor a TRACK line is some other file.
    if (source.sheet.bin_files.empty() && source.sheet.track_count == 0) {
        source.result = disc_source::state::not_a_source;
        source.error.message = std::string(path) + " is not a CUE sheet: " + describe_non_sheet(cue_file.get());
        return source;
    }
    source.result = disc_source::state::read;
    source.sheet_name = base_name(path);
    source.sheet_bytes = whole_file(cue_file.get());
    source.layout = lay_out_tracks(source.sheet);
    std::vector<std::string> paths;
    for (const bin_file_entry& file : source.sheet.bin_files)
        paths.push_back(bin_path(sheet_dir, file.name));
    source.bin = join_sheet_files(source.sheet, source.layout, paths);
    source.files.insert(source.files.end(), paths.begin(), paths.end());
    find_companions(source, sheet_dir, base_name(path));
    return source;
}

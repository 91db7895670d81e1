#include "extract/folder_owner.h"

#include "base/platform.h"
#include "extract/output_names.h"

#include <cstring>

bool read_folder_owner(const run_paths& paths, std::string& owner)
{
    char path[path_capacity];
    if (!format_output_path(paths, owner_file_name(), path) || kind_of_path(path) != path_kind::regular_file)
        return false;
    file_stream file = open_regular_file(path);
    if (!file)
        return false;
    // A file name is far shorter than a path: a longer record is not one.
    char name[path_capacity];
    const std::size_t length = std::fread(name, 1, sizeof name, file.get());
    if (length == 0 || length == sizeof name || std::memchr(name, '\0', length) != nullptr)
        return false;
    owner.assign(name, length);
    return true;
}

void write_folder_owner(track_voice c, const output_folder& folder, const char* sheet_name)
{
    output_file out;
    if (const int failure = open_output_file(out, folder, owner_file_name())) {
        report(c, "cannot create %s: %s", out.final_path, describe_open_failure(failure));
        return;
    }
    std::fwrite(sheet_name, 1, std::strlen(sheet_name), out.stream.get());
    commit_output_file(c, out);
}

#include "output/folder_owner.h"

#include "base/platform.h"
#include "output/output_names.h"

#include <cstring>

bool read_folder_owner(const run_paths& paths, std::string& owner)
{
    const std::string path = output_path(paths, owner_file_name());
    if (kind_of_path(path.c_str()) != path_kind::regular_file)
        return false;
    file_stream file = open_regular_file(path.c_str());
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

void write_folder_owner(voice c, const output_folder& folder, const char* sheet_name)
{
    output_file out;
    if (const int failure = open_output_file(out, folder, owner_file_name())) {
        report(c, "cannot create %s: %s", out.final_path.c_str(), describe_open_failure(failure));
        return;
    }
    std::fwrite(sheet_name, 1, std::strlen(sheet_name), out.stream.get());
    commit_output_file(c, out);
}

std::string owner_name_of(const disc_name& disc, const run_paths& paths)
{
    const bool beside = std::strcmp(paths.out_parent, paths.cue_dir) == 0;
    const char* path = disc.path.c_str();
    const std::string name = beside ? std::string(base_name(path)) : full_path(path);
    return disc.member.empty() ? name : name + "/" + disc.member;
}

std::string printable_name(const std::string& name)
{
    std::string text = name;
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 32)
            c = '?';
    return text;
}

std::string source_name_of(const disc_name& disc, const run_paths& paths)
{
    return printable_name(owner_name_of(disc, paths));
}

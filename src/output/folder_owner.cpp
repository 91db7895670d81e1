#include "output/folder_owner.h"

#include "base/platform.h"
#include "output/output_names.h"

#include <cstring>
#include <utility>

bool read_folder_owner(const run_paths& paths, std::string& owner)
{
    const std::string path = output_path(paths, owner_file_name());
    if (kind_of_path(path.c_str()) != path_kind::regular_file)
        return false;
    // A path of any length, but not a file of any size: a longer one is no record.
    constexpr std::size_t limit = std::size_t{1} << 20;
    std::string name;
    if (!read_file_start(path.c_str(), name, limit) || name.empty() || name.size() == limit ||
        name.find('\0') != std::string::npos)
        return false;
    owner = std::move(name);
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

bool same_folder(const char* a, const char* b)
{
    if (same_file_name(a, b))
        return true;
    const file_identity first = identify_file(*a == '\0' ? "." : a, true);
    return first.known && first == identify_file(*b == '\0' ? "." : b, true);
}

std::string owner_name_of(const disc_name& disc, const run_paths& paths)
{
    // "-o ./cds/" for a sheet in cds/ is beside it all the same.
    const bool beside = same_folder(paths.out_parent, paths.cue_dir);
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

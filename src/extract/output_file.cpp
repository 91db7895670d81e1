#include "extract/output_file.h"

#include "extract/output_names.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

bool format_temporary_path(const output_folder& folder, const char* name, char (&path)[path_capacity + 64])
{
    const std::string temporary = temporary_file_name(name, current_process_id());
    const int length = std::snprintf(path, sizeof path, "%s%s%c%s", folder.paths->out_parent, folder.paths->out_name,
                                     path_separator, temporary.c_str());
    return length > 0 && static_cast<std::size_t>(length) < sizeof path;
}

bool is_input(const output_folder& folder, const char* path)
{
    const file_identity entry = identify_file(path, false);
    for (const file_identity& input : folder.inputs)
        if (entry.known && entry == input)
            return true;
    return false;
}

} // namespace

output_file::~output_file() { discard_output_file(*this); }

int open_output_file(output_file& out, const output_folder& folder, const char* name)
{
    if (!format_output_path(*folder.paths, name, out.final_path) ||
        !format_temporary_path(folder, name, out.temporary_path))
        return ENAMETOOLONG;
    if (kind_of_path(out.final_path) == path_kind::directory)
        return EISDIR;
    if (is_input(folder, out.final_path))
        return output_is_input;
    // The file this one replaces keeps its pages until the rename: freed
    // now, as the old truncating open freed them, they take the new file.
    release_cached_contents(out.final_path);

    out.stream = create_temporary(*folder.temporaries, out.temporary_path);
    // Only a killed run of a process that had this id can have left it.
    if (!out.stream && errno == EEXIST && remove_file(out.temporary_path))
        out.stream = create_temporary(*folder.temporaries, out.temporary_path);
    if (!out.stream)
        return errno;
    out.temporaries = folder.temporaries;
    return 0;
}

const char* describe_open_failure(int failure)
{
    return failure == output_is_input ? "the name holds one of this run's input files" : std::strerror(failure);
}

bool commit_output_file(track_voice voice, output_file& out)
{
    if (!close_file(out.stream)) {
        report(voice, "cannot write %s: %s", out.final_path, std::strerror(errno));
        discard_output_file(out);
        return false;
    }
    if (!replace_file(out.temporary_path, out.final_path)) {
        report(voice, "cannot replace %s: %s", out.final_path, std::strerror(errno));
        discard_output_file(out);
        return false;
    }
    forget_temporary(*out.temporaries, out.temporary_path);
    out.temporaries = nullptr;
    return true;
}

void discard_output_file(output_file& out)
{
    if (out.temporaries == nullptr)
        return;
    out.stream.reset();
    remove_file(out.temporary_path);
    forget_temporary(*out.temporaries, out.temporary_path);
    out.temporaries = nullptr;
}

void remove_output_file(const output_folder& folder, const char* name)
{
    char path[path_capacity];
    if (format_output_path(*folder.paths, name, path) && kind_of_path(path) == path_kind::regular_file &&
        !is_input(folder, path))
        remove_file(path);
}

void remove_stale_temporaries(const char* dir)
{
    const unsigned long self = current_process_id();
    list_directory(dir, [dir, self](const char* name) {
        const unsigned long owner = temporary_owner(name);
        if (owner == 0 || (owner != self && process_is_running(owner)))
            return;
        char path[path_capacity + 64];
        const int length = std::snprintf(path, sizeof path, "%s%c%s", dir, path_separator, name);
        if (length > 0 && static_cast<std::size_t>(length) < sizeof path)
            remove_file(path);
    });
}

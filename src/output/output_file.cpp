#include "output/output_file.h"

#include "output/output_names.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

bool is_input(const output_folder& folder, const std::string& path)
{
    const file_identity entry = identify_file(path.c_str(), false);
    for (const file_identity& input : folder.inputs)
        if (entry.known && entry == input)
            return true;
    return false;
}

} // namespace

output_file::~output_file() { discard_output_file(*this); }

int open_output_file(output_file& out, const output_folder& folder, const char* name)
{
    out.final_path = output_path(*folder.paths, name);
    out.temporary_path = output_path(*folder.paths, temporary_file_name(name, current_process_id()));
    if (kind_of_path(out.final_path.c_str()) == path_kind::directory)
        return EISDIR;
    if (is_input(folder, out.final_path))
        return output_is_input;
    // The file this one replaces keeps its pages until the rename: freed
    // now, as the old truncating open freed them, they take the new file.
    release_cached_contents(out.final_path.c_str());

    out.stream = create_temporary(*folder.temporaries, out.temporary_path.c_str());
    // Only a killed run of a process that had this id can have left it.
    if (!out.stream && errno == EEXIST && remove_file(out.temporary_path.c_str()))
        out.stream = create_temporary(*folder.temporaries, out.temporary_path.c_str());
    if (!out.stream)
        return errno;
    out.temporaries = folder.temporaries;
    return 0;
}

const char* describe_open_failure(int failure)
{
    return failure == output_is_input ? "the name holds one of this run's input files" : std::strerror(failure);
}

bool commit_output_file(voice to, output_file& out)
{
    if (out.hashing == output_hash::fed)
        out.hash = out.fed.value();
    bool written = out.durable ? flush_to_disk(out.stream.get()) : std::fflush(out.stream.get()) == 0;
    if (written && out.hashing == output_hash::read_back) {
        unsigned char buffer[16384];
        written = hash_file(out.temporary_path.c_str(), buffer, sizeof buffer, out.hash);
    }
    const int write_error = errno;
    if (!close_file(out.stream) || !written) {
        report(to, "cannot write %s: %s", out.final_path.c_str(), std::strerror(written ? errno : write_error));
        discard_output_file(out);
        return false;
    }
    if (!replace_file(out.temporary_path.c_str(), out.final_path.c_str())) {
        report(to, "cannot replace %s: %s", out.final_path.c_str(), std::strerror(errno));
        discard_output_file(out);
        return false;
    }
    forget_temporary(*out.temporaries, out.temporary_path.c_str());
    out.temporaries = nullptr;
    return true;
}

placing place_new_output_file(voice to, output_file& out)
{
    if (!close_file(out.stream)) {
        report(to, "cannot write %s: %s", out.final_path.c_str(), std::strerror(errno));
        discard_output_file(out);
        return placing::failed;
    }
    if (!place_new_file(out.temporary_path.c_str(), out.final_path.c_str())) {
        if (errno == EEXIST)
            return placing::taken;
        report(to, "cannot create %s: %s", out.final_path.c_str(), std::strerror(errno));
        discard_output_file(out);
        return placing::failed;
    }
    forget_temporary(*out.temporaries, out.temporary_path.c_str());
    out.temporaries = nullptr;
    return placing::placed;
}

bool write_output_bytes(voice to, const output_folder& folder, const char* name, const std::string& bytes)
{
    output_file out;
    if (const int failure = open_output_file(out, folder, name)) {
        report(to, "cannot create %s: %s", out.final_path.c_str(), describe_open_failure(failure));
        return false;
    }
    if (std::fwrite(bytes.data(), 1, bytes.size(), out.stream.get()) != bytes.size()) {
        report(to, "cannot write %s: %s", out.final_path.c_str(), std::strerror(errno));
        return false;
    }
    return commit_output_file(to, out);
}

void discard_output_file(output_file& out)
{
    if (out.temporaries == nullptr)
        return;
    out.stream.reset();
    remove_file(out.temporary_path.c_str());
    forget_temporary(*out.temporaries, out.temporary_path.c_str());
    out.temporaries = nullptr;
}

void remove_output_file(const output_folder& folder, const char* name)
{
    const std::string path = output_path(*folder.paths, name);
    if (kind_of_path(path.c_str()) == path_kind::regular_file && !is_input(folder, path))
        remove_file(path.c_str());
}

void remove_stale_temporaries(const run_paths& paths, const char* of)
{
    const unsigned long self = current_process_id();
    list_directory(output_dir_path(paths).c_str(), [&paths, of, self](const char* name) {
        const unsigned long owner = temporary_owner(name);
        if (owner == 0 || (owner != self && process_is_running(owner)) ||
            (of != nullptr && temporary_file_name(of, owner) != name))
            return;
        remove_file(output_path(paths, name).c_str());
    });
}

void remove_stale_unpacked_files(const run_paths& paths)
{
    const unsigned long self = current_process_id();
    std::string prefix(1, '.');
    prefix.append(paths.out_name).append(".unpacked");
    const std::string parent = *paths.out_parent == '\0' ? std::string(".") : std::string(paths.out_parent);
    list_directory(parent.c_str(), [&](const char* name) {
        const unsigned long owner = temporary_owner(name);
        if (owner == 0 || owner == self || process_is_running(owner) ||
            std::strncmp(name, prefix.c_str(), prefix.size()) != 0)
            return;
        remove_file((std::string(paths.out_parent) + name).c_str());
    });
}

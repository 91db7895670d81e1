#include "base/file_stream.h"

#include "base/platform.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

bool close_file(file_stream& file)
{
    std::FILE* stream = file.release();
    if (stream == nullptr)
        return true;
    const bool write_failed = std::ferror(stream) != 0;
    return std::fclose(stream) == 0 && !write_failed;
}

bool read_file_start(const char* path, std::string& text, std::size_t limit)
{
    const file_stream file = open_regular_file(path);
    if (!file)
        return false;
    text.clear();
    char block[4096];
    for (std::size_t got; text.size() < limit && (got = std::fread(block, 1, sizeof block, file.get())) > 0;)
        text.append(block, std::min(got, limit - text.size()));
    return std::ferror(file.get()) == 0;
}

std::string reason_not_opened(const char* path, int error)
{
    // Windows opens no folder and says EACCES; POSIX opens it and the
    // check for a regular file refuses it.
    if (error != ENOENT && error != ENOTDIR && error != ENAMETOOLONG) {
        const path_kind kind = kind_of_path(path);
        if (kind == path_kind::directory)
            return "it is a folder";
        if (kind == path_kind::other)
            return "it is not a regular file";
        // Windows says EINVAL for a name no file can have: a wildcard's.
        if (kind == path_kind::missing && error == EINVAL)
            error = ENOENT;
    }
    return std::strerror(error);
}

#include "base/file_stream.h"

#include "base/platform.h"

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

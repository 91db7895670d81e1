#include "base/platform.h"

#include <cstdlib>

#ifdef _WIN32
#include <direct.h>
#include <io.h>
#include <sys/stat.h>
// Ask the runtime to expand * and ? in the command line, as Windows shells don't.
extern "C" int _dowildcard;
int _dowildcard = -1;
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace {

file_stream stream_of(int fd, const char* mode)
{
    std::FILE* file = fdopen(fd, mode);
    if (file == nullptr)
        close(fd);
    return file_stream(file);
}

} // namespace
#endif

#ifdef _WIN32

file_stream open_regular_file(const char* path)
{
    struct _stat64 info {};
    if (_stat64(path, &info) != 0 || (info.st_mode & _S_IFREG) == 0)
        return nullptr;
    return file_stream(std::fopen(path, "rb"));
}

file_stream create_output_file(const char* path) { return file_stream(std::fopen(path, "wb")); }

bool append_zeros(std::FILE* file, std::int64_t bytes)
{
    if (std::fflush(file) != 0 || _fseeki64(file, 0, SEEK_END) != 0)
        return false;
    const std::int64_t size = _ftelli64(file) + bytes;
    return _chsize_s(_fileno(file), size) == 0 && _fseeki64(file, 0, SEEK_END) == 0;
}

bool make_directory(const char* path) { return _mkdir(path) == 0; }

bool seek_to(std::FILE* file, std::int64_t offset)
{
    return _fseeki64(file, offset, SEEK_SET) == 0;
}

std::int64_t file_size(std::FILE* file)
{
    if (_fseeki64(file, 0, SEEK_END) != 0)
        return -1;
    const std::int64_t size = _ftelli64(file);
    return seek_to(file, 0) ? size : -1;
}

void wait_for_key()
{
    // Output not yet written would come out after the prompt: cmd.exe writes
    // to the console itself, and msvcrt buffers a redirected stdout.
    std::fflush(nullptr);
    std::system("pause");
}

#else

file_stream open_regular_file(const char* path)
{
    // Non-blocking, so a FIFO at that name cannot hold the open until some
    // writer appears; it is refused below like any other non-regular file.
    const int fd = open(path, O_RDONLY | O_NONBLOCK);
    if (fd < 0)
        return nullptr;
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || fcntl(fd, F_SETFL, 0) != 0) {
        close(fd);
        return nullptr;
    }
    return stream_of(fd, "rb");
}

file_stream create_output_file(const char* path)
{
    // A symbolic link at the name would take the write outside the output
    // directory: refuse it rather than follow it.
    const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW, 0666);
    return fd < 0 ? nullptr : stream_of(fd, "wb");
}

bool append_zeros(std::FILE* file, std::int64_t bytes)
{
    if (std::fflush(file) != 0 || fseeko(file, 0, SEEK_END) != 0)
        return false;
    const std::int64_t size = ftello(file) + bytes;
    return ftruncate(fileno(file), static_cast<off_t>(size)) == 0 && fseeko(file, 0, SEEK_END) == 0;
}

bool make_directory(const char* path) { return mkdir(path, 0777) == 0; }

bool seek_to(std::FILE* file, std::int64_t offset)
{
    return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
}

std::int64_t file_size(std::FILE* file)
{
    if (fseeko(file, 0, SEEK_END) != 0)
        return -1;
    const std::int64_t size = ftello(file);
    return seek_to(file, 0) ? size : -1;
}

void wait_for_key() {}

#endif

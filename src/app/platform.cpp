#include "app/platform.h"

#include <cstdlib>

#ifdef _WIN32
#include <direct.h>
#include <sys/stat.h>
// Ask the runtime to expand * and ? in the command line, as Windows shells don't.
extern "C" int _dowildcard;
int _dowildcard = -1;
#else
#include <sys/stat.h>
#include <sys/types.h>
#endif

bool close_file(file_stream& file)
{
    std::FILE* stream = file.release();
    if (stream == nullptr)
        return true;
    const bool write_failed = std::ferror(stream) != 0;
    return std::fclose(stream) == 0 && !write_failed;
}

#ifdef _WIN32

file_stream open_regular_file(const char* path)
{
    struct _stat64 info {};
    if (_stat64(path, &info) != 0 || (info.st_mode & _S_IFREG) == 0)
        return nullptr;
    return file_stream(std::fopen(path, "rb"));
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

void wait_for_key() { std::system("pause"); }

#else

file_stream open_regular_file(const char* path)
{
    file_stream file(std::fopen(path, "rb"));
    struct stat info {};
    if (file && (fstat(fileno(file.get()), &info) != 0 || !S_ISREG(info.st_mode)))
        file.reset();
    return file;
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

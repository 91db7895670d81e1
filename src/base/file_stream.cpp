#include "base/file_stream.h"

bool close_file(file_stream& file)
{
    std::FILE* stream = file.release();
    if (stream == nullptr)
        return true;
    const bool write_failed = std::ferror(stream) != 0;
    return std::fclose(stream) == 0 && !write_failed;
}

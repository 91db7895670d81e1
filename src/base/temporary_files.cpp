#include "base/temporary_files.h"

#include "base/platform.h"

#include <algorithm>
#include <cerrno>

file_stream create_temporary(temporary_files& temporaries, const char* path)
{
    const std::lock_guard<std::mutex> hold(temporaries.lock);
    if (temporaries.removed) {
        errno = EINTR;
        return nullptr;
    }
    file_stream file = create_new_file(path);
    if (file)
        temporaries.paths.emplace_back(path);
    return file;
}

void forget_temporary(temporary_files& temporaries, const char* path)
{
    const std::lock_guard<std::mutex> hold(temporaries.lock);
    const auto found = std::find(temporaries.paths.begin(), temporaries.paths.end(), path);
    if (found != temporaries.paths.end())
        temporaries.paths.erase(found);
}

void remove_temporaries(temporary_files& temporaries)
{
    const std::lock_guard<std::mutex> hold(temporaries.lock);
    for (const std::string& path : temporaries.paths)
        remove_file(path.c_str());
    temporaries.paths.clear();
    temporaries.removed = true;
}

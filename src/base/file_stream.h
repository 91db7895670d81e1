// Ownership of the C streams the program opens: each is closed exactly once,
// however the code that opened it ends.
#pragma once

#include <cstdio>
#include <memory>

struct file_closer {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using file_stream = std::unique_ptr<std::FILE, file_closer>;

// Closes the stream now and says whether everything written reached the file.
bool close_file(file_stream& file);

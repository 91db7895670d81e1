// Ownership of the C streams the program opens: each is closed exactly once,
// however the code that opened it ends.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

struct file_closer {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using file_stream = std::unique_ptr<std::FILE, file_closer>;

// Closes the stream now and says whether everything written reached the file.
bool close_file(file_stream& file);

// Up to limit bytes from the start of the regular file at path (not through
// a FIFO or a device); false when it cannot be opened or read.
bool read_file_start(const char* path, std::string& text, std::size_t limit);

// Why open_regular_file(path) gave no stream, for a message; error is the
// errno it left. What the name holds when that is not a file: "it is a
// folder", else the system's words.
std::string reason_not_opened(const char* path, int error);

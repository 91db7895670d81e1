// The temporary files a run has in flight, so that an interrupt can remove
// them before the process ends. Shared by every thread that writes.
#pragma once

#include "base/file_stream.h"

#include <mutex>
#include <string>
#include <vector>

struct temporary_files {
    std::mutex lock;
    std::vector<std::string> paths;
    bool removed = false;   // an interrupt removed them all: the process is ending
};

// Creates a new file at path (as create_new_file does) and remembers it, in
// one step under the lock, so that an interrupt's removal cannot miss a file
// created while it runs. Once the interrupt has removed the temporaries,
// nothing more is created: null, with errno EINTR.
file_stream create_temporary(temporary_files& temporaries, const char* path);
void forget_temporary(temporary_files& temporaries, const char* path);

// Removes every temporary still in flight: for the interrupt handler.
void remove_temporaries(temporary_files& temporaries);

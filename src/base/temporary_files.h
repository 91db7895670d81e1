// The temporary files a run has in flight, so that an interrupt can remove
// them before the process ends. Shared by every thread that writes.
#pragma once

#include <mutex>
#include <string>
#include <vector>

struct temporary_files {
    std::mutex lock;
    std::vector<std::string> paths;
};

void remember_temporary(temporary_files& temporaries, const char* path);
void forget_temporary(temporary_files& temporaries, const char* path);

// Removes every temporary still in flight: for the interrupt handler.
void remove_temporaries(temporary_files& temporaries);

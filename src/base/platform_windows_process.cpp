// The platform contract on Windows, the process's side: the console, the
// interrupt watch, other processes, the folder lock and the command line.
#include "base/platform.h"
#include "base/platform_windows.h"

#include <io.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

// Where * and ? may stand: not in the \\?\ that starts a long path.
bool has_wildcard(const std::wstring& argument)
{
    const std::size_t from = starts_with(argument, L"\\\\?\\") ? 4 : 0;
    return argument.find_first_of(L"*?", from) != std::wstring::npos;
}

// The names matching a pattern, each after the pattern's folder part (up to
// its last '\', '/' or ':'); "." and ".." left out.
std::vector<std::wstring> matching_names(const std::wstring& pattern)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found {};
    const HANDLE first = FindFirstFileW(win32_path(pattern).c_str(), &found);
    if (first == INVALID_HANDLE_VALUE)
        return names;
    const find_handle find(first);
    const std::wstring folder = pattern.substr(0, pattern.find_last_of(L"\\/:") + 1);
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..")
            names.push_back(folder + name);
    } while (FindNextFileW(find.get(), &found));
    std::sort(names.begin(), names.end(), [](const std::wstring& a, const std::wstring& b) {
        return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_LESS_THAN;
    });
    return names;
}

} // namespace

std::vector<std::string> utf8_arguments(int argc, wchar_t** argv)
{
    std::vector<std::string> arguments;
    for (int i = 0; i < argc; ++i) {
        const std::wstring argument = argv[i];
        const std::vector<std::wstring> names =
            i > 0 && has_wildcard(argument) ? matching_names(argument) : std::vector<std::wstring>{};
        if (names.empty())
            arguments.push_back(utf8_from_wide(argument.c_str()));
        for (const std::wstring& name : names)
            arguments.push_back(utf8_from_wide(name.c_str()));
    }
    return arguments;
}

unsigned long current_process_id() { return GetCurrentProcessId(); }

bool process_is_running(unsigned long id)
{
    const HANDLE opened = OpenProcess(SYNCHRONIZE, FALSE, id);
    if (opened == nullptr)
        return GetLastError() == ERROR_ACCESS_DENIED;
    const owned_handle process(opened);
    return WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT;
}

// A console, not any character device: msvcrt's _isatty is true for NUL too.
bool is_terminal(std::FILE* stream)
{
    DWORD mode = 0;
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    return handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
}

void ignore_broken_pipe() {}

void hold_standard_descriptors() {}

namespace {

// The console's control handler takes no argument: this is the one handler
// of the one watch alive, set and cleared by interrupt_watch. The system
// calls the control handler on a thread of its own, so the pointer is atomic,
// and the handlers in flight are counted: the watch waits for them before
// its handler goes away.
std::atomic<std::function<void()>*> console_interrupt_handler{nullptr};
std::atomic<int> handlers_in_flight{0};

BOOL WINAPI on_console_event(DWORD)
{
    ++handlers_in_flight;
    if (std::function<void()>* handler = console_interrupt_handler.load())
        (*handler)();
    --handlers_in_flight;
    return FALSE;   // the default handler then ends the process
}

} // namespace

struct interrupt_watch::state {
    std::function<void()> on_interrupt;
};

interrupt_watch::interrupt_watch(std::function<void()> on_interrupt) : state_(std::make_unique<state>())
{
    state_->on_interrupt = std::move(on_interrupt);
    console_interrupt_handler = &state_->on_interrupt;
    SetConsoleCtrlHandler(on_console_event, TRUE);
}

// A handler counted before the pointer is cleared has its function to the
// end; one that starts after finds none.
interrupt_watch::~interrupt_watch()
{
    SetConsoleCtrlHandler(on_console_event, FALSE);
    console_interrupt_handler = nullptr;
    while (handlers_in_flight != 0)
        std::this_thread::yield();
}

void wait_for_key()
{
    // Output not yet written would come out after the prompt: cmd.exe writes
    // to the console itself, and msvcrt buffers a redirected stdout.
    std::fflush(nullptr);
    std::system("pause");
}

folder_lock::~folder_lock()
{
    if (handle_ != nullptr)
        CloseHandle(handle_);   // the lock goes with the handle
}

folder_lock lock_folder(const char* dir, const char* lock_file_name)
{
    folder_lock lock;
    const std::string path = std::string(dir) + path_separator + lock_file_name;
    // Not through a link at that name, and never denying others the file:
    // they open it to wait for the lock.
    const HANDLE file = CreateFileW(wide_path(path.c_str()).c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return lock;
    // The first byte, locked whether or not the file holds it; on a handle
    // opened for synchronous use, the call waits until it is granted.
    OVERLAPPED at_start{};
    if (LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at_start) == 0) {
        CloseHandle(file);
        return lock;
    }
    lock.handle_ = file;
    return lock;
}

folder_lock::folder_lock(folder_lock&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }

folder_lock& folder_lock::operator=(folder_lock&& other) noexcept
{
    std::swap(handle_, other.handle_);
    return *this;
}

bool folder_lock::held() const { return handle_ != nullptr; }

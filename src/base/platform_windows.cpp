// The platform contract on Windows: the wide (UTF-16) calls, every path
// converted from the program's UTF-8 at the edge.
#include "base/platform.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <atomic>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <utility>

namespace {

// MultiByteToWideChar on the whole string, terminator left out; empty when
// the text is not valid in that code page under flags.
std::wstring widened(unsigned code_page, unsigned long flags, const char* text)
{
    const int length = MultiByteToWideChar(code_page, flags, text, -1, nullptr, 0);
    if (length <= 0)
        return {};
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    if (MultiByteToWideChar(code_page, flags, text, -1, wide.data(), length) != length)
        return {};
    wide.resize(static_cast<std::size_t>(length - 1));
    return wide;
}

// UTF-16 and UTF-8, the two forms of text at the Windows edge: the command
// line and the file calls speak UTF-16, the program UTF-8. Empty when the
// text cannot be converted.
std::wstring wide_from_utf8(const char* text) { return widened(CP_UTF8, MB_ERR_INVALID_CHARS, text); }

std::string utf8_from_wide(const wchar_t* text)
{
    const int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (length <= 0)
        return {};
    std::string utf8(static_cast<std::size_t>(length), '\0');
    if (WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8.data(), length, nullptr, nullptr) != length)
        return {};
    utf8.resize(static_cast<std::size_t>(length - 1));
    return utf8;
}

bool starts_with(const std::wstring& text, const wchar_t* prefix) { return text.rfind(prefix, 0) == 0; }

// Plain Win32 paths stop at MAX_PATH characters, directories 12 before that
// (room for an 8.3 name inside).
constexpr std::size_t long_path_length = MAX_PATH - 12;

// What Windows makes of a path (/ to \\, . and .. resolved, the current
// directory put in front); empty when it cannot.
std::wstring absolute_path(const std::wstring& wide)
{
    const DWORD capacity = wide.empty() ? 0 : GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (capacity == 0)
        return {};
    std::wstring full(capacity, L'\0');
    const DWORD length = GetFullPathNameW(wide.c_str(), capacity, full.data(), nullptr);
    if (length == 0 || length >= capacity)
        return {};
    full.resize(length);
    return full;
}

// The UTF-16 path for the wide file calls. A path whose absolute form is
// long gets that form with the \\?\ prefix, which lifts the limit to about
// 32767 characters; any other is passed as it was given. GetFullPathNameW
// does what Windows would do to the plain path (/ to \, . and .. resolved,
// the current directory put in front), which a \\?\ path no longer gets.
std::wstring win32_path(const std::wstring& wide)
{
    if (wide.empty() || starts_with(wide, L"\\\\?\\") || starts_with(wide, L"\\\\.\\"))
        return wide;
    const std::wstring full = absolute_path(wide);
    if (full.empty() || full.size() < long_path_length)
        return wide;
    if (starts_with(full, L"\\\\"))   // \\server\share\...
        return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

std::wstring wide_path(const char* path) { return win32_path(wide_from_utf8(path)); }

struct find_closer {
    void operator()(HANDLE find) const { FindClose(find); }
};
using find_handle = std::unique_ptr<void, find_closer>;

struct handle_closer {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using owned_handle = std::unique_ptr<void, handle_closer>;

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

std::string file_name_from_sheet(const char* name)
{
    if (*name == '\0' || !wide_from_utf8(name).empty())
        return name;
    return utf8_from_wide(widened(CP_ACP, 0, name).c_str());
}

file_stream open_regular_file(const char* path)
{
    // Opened first and checked after, as on POSIX: _wstat64 would refuse a
    // \\?\ path for its '?'. A directory does not open at all; a device
    // does, and is refused here before any read.
    file_stream file(_wfopen(wide_path(path).c_str(), L"rb"));
    struct _stat64 info {};
    if (file && (_fstat64(_fileno(file.get()), &info) != 0 || (info.st_mode & _S_IFMT) != _S_IFREG))
        return nullptr;
    return file;
}

file_stream create_new_file(const char* path)
{
    const int fd =
        _wopen(wide_path(path).c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (fd < 0)
        return nullptr;
    std::FILE* file = _fdopen(fd, "wb");
    if (file == nullptr)
        _close(fd);
    return file_stream(file);
}

bool replace_file(const char* from, const char* to)
{
    return MoveFileExW(wide_path(from).c_str(), wide_path(to).c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

bool remove_file(const char* path) { return DeleteFileW(wide_path(path).c_str()) != 0; }

path_kind kind_of_path(const char* path)
{
    const DWORD attributes = GetFileAttributesW(wide_path(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return path_kind::missing;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return path_kind::directory;
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? path_kind::other : path_kind::regular_file;
}

file_identity identify_file(const char* path, bool follow)
{
    const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    const HANDLE opened = CreateFileW(wide_path(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, flags, nullptr);
    if (opened == INVALID_HANDLE_VALUE)
        return {};
    const owned_handle file(opened);
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileInformationByHandle(file.get(), &info) == 0)
        return {};
    return file_identity{info.dwVolumeSerialNumber,
                         std::uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow, true};
}

bool list_directory(const char* path, const std::function<void(const char* name)>& visit)
{
    // As opendir(""): no directory. "" + "\\*" would list the drive's root.
    if (*path == '\0')
        return false;
    WIN32_FIND_DATAW entry{};
    const HANDLE first = FindFirstFileW(win32_path(wide_from_utf8(path) + L"\\*").c_str(), &entry);
    if (first == INVALID_HANDLE_VALUE)
        return false;
    const find_handle search(first);
    do {
        const std::wstring name = entry.cFileName;
        if (name != L"." && name != L"..")
            visit(utf8_from_wide(name.c_str()).c_str());
    } while (FindNextFileW(search.get(), &entry) != 0);
    return true;
}

// As NTFS compares names: letter case ignored in every script, not only ASCII.
bool same_file_name(const char* a, const char* b)
{
    const std::wstring wide_a = wide_from_utf8(a);
    const std::wstring wide_b = wide_from_utf8(b);
    return CompareStringOrdinal(wide_a.c_str(), -1, wide_b.c_str(), -1, TRUE) == CSTR_EQUAL;
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

bool append_zeros(std::FILE* file, std::int64_t bytes)
{
    if (std::fflush(file) != 0 || _fseeki64(file, 0, SEEK_END) != 0)
        return false;
    const std::int64_t size = _ftelli64(file) + bytes;
    return _chsize_s(_fileno(file), size) == 0 && _fseeki64(file, 0, SEEK_END) == 0;
}

bool make_directory(const char* path) { return _wmkdir(wide_path(path).c_str()) == 0; }

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

bool is_symbolic_link(const char* path)
{
    // Other reparse points (a cloud file's placeholder, a deduplicated file)
    // are ordinary folders to a path; only these two lead elsewhere.
    WIN32_FIND_DATAW entry{};
    const HANDLE first = FindFirstFileW(wide_path(path).c_str(), &entry);
    if (first == INVALID_HANDLE_VALUE)
        return false;
    const find_handle search(first);
    return (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
           (entry.dwReserved0 == IO_REPARSE_TAG_SYMLINK || entry.dwReserved0 == IO_REPARSE_TAG_MOUNT_POINT);
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

bool modification_time(const char* path, std::int64_t& time)
{
    // GetFileTime on a handle: _wstat64 refuses the \\?\ of a long path.
    const HANDLE opened = CreateFileW(wide_path(path).c_str(), FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (opened == INVALID_HANDLE_VALUE)
        return false;
    const owned_handle file(opened);
    FILETIME written{};
    if (GetFileTime(file.get(), nullptr, nullptr, &written) == 0)
        return false;
    time = static_cast<std::int64_t>(std::uint64_t{written.dwHighDateTime} << 32 | written.dwLowDateTime);
    return true;
}

bool append_to_file(const char* path, const std::string& bytes)
{
    // FILE_APPEND_DATA without FILE_WRITE_DATA: every write goes to the end
    // of the file as it then is, as O_APPEND does.
    const HANDLE opened = CreateFileW(wide_path(path).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    const auto error_number = [] {
        switch (GetLastError()) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND: return ENOENT;
        case ERROR_ACCESS_DENIED: return EACCES;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL: return ENOSPC;
        default: return EIO;
        }
    };
    if (opened == INVALID_HANDLE_VALUE) {
        errno = error_number();
        return false;
    }
    const owned_handle file(opened);
    DWORD written = 0;
    const auto size = static_cast<DWORD>(bytes.size());
    if (WriteFile(file.get(), bytes.data(), size, &written, nullptr) == 0 || written != size) {
        errno = error_number();
        return false;
    }
    return true;
}

std::string full_path(const char* path)
{
    const std::wstring full = absolute_path(wide_from_utf8(path));
    return full.empty() ? std::string(path) : utf8_from_wide(full.c_str());
}

// ---- Copying a byte range from one file to another ----
// No copy inside the kernel here: plain reads and writes through the buffer.
byte_copy copy_bytes(std::FILE* from, std::int64_t offset, std::FILE* to, std::int64_t count,
                     unsigned char* buffer, std::size_t buffer_size)
{
    byte_copy done{0, 0};
    if (_fseeki64(from, offset, SEEK_SET) != 0)
        return done;
    while (done.copied < count) {
        const std::int64_t left = count - done.copied;
        const std::size_t wanted = left < static_cast<std::int64_t>(buffer_size) ? static_cast<std::size_t>(left)
                                                                                 : buffer_size;
        const std::size_t got = std::fread(buffer, 1, wanted, from);
        if (got == 0)
            break;
        if (std::fwrite(buffer, 1, got, to) != got) {
            done.write_error = errno != 0 ? errno : EIO;
            break;
        }
        done.copied += static_cast<std::int64_t>(got);
        if (got < wanted)
            break;   // a short read is the end of the file
    }
    return done;
}

// ---- Releasing a file's cached pages ----
// Windows' cache manager gives no such call for a file not opened for it.
void release_cached_contents(const char*) {}

// ---- Reserving disk space for a file ----
// Plain writes: NTFS takes the space as they come.
void reserve_file_space(std::FILE*, std::int64_t) {}

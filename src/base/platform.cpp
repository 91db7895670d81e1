#include "base/platform.h"

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>

#ifdef _WIN32
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
#include <memory>

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

// The UTF-16 path for the wide file calls. A path whose absolute form is
// long gets that form with the \\?\ prefix, which lifts the limit to about
// 32767 characters; any other is passed as it was given. GetFullPathNameW
// does what Windows would do to the plain path (/ to \, . and .. resolved,
// the current directory put in front), which a \\?\ path no longer gets.
std::wstring win32_path(const std::wstring& wide)
{
    if (wide.empty() || starts_with(wide, L"\\\\?\\") || starts_with(wide, L"\\\\.\\"))
        return wide;
    const DWORD capacity = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (capacity == 0)
        return wide;
    std::wstring full(capacity, L'\0');
    const DWORD length = GetFullPathNameW(wide.c_str(), capacity, full.data(), nullptr);
    if (length == 0 || length >= capacity)
        return wide;
    full.resize(length);
    if (full.size() < long_path_length)
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
#else
#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

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
// of the one watch alive, set and cleared by interrupt_watch.
std::function<void()>* console_interrupt_handler = nullptr;

BOOL WINAPI on_console_event(DWORD)
{
    if (console_interrupt_handler != nullptr)
        (*console_interrupt_handler)();
    return FALSE;   // the default handler then ends the process
}

} // namespace

interrupt_watch::interrupt_watch(std::function<void()> on_interrupt) : on_interrupt_(std::move(on_interrupt))
{
    console_interrupt_handler = &on_interrupt_;
    SetConsoleCtrlHandler(on_console_event, TRUE);
}

interrupt_watch::~interrupt_watch()
{
    SetConsoleCtrlHandler(on_console_event, FALSE);
    console_interrupt_handler = nullptr;
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

file_stream create_new_file(const char* path)
{
    const int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    return fd < 0 ? nullptr : stream_of(fd, "wb");
}

bool replace_file(const char* from, const char* to) { return std::rename(from, to) == 0; }

bool remove_file(const char* path) { return unlink(path) == 0; }

path_kind kind_of_path(const char* path)
{
    struct stat info {};
    if (lstat(path, &info) != 0)
        return path_kind::missing;
    if (S_ISREG(info.st_mode))
        return path_kind::regular_file;
    return S_ISDIR(info.st_mode) ? path_kind::directory : path_kind::other;
}

file_identity identify_file(const char* path, bool follow)
{
    struct stat info {};
    if ((follow ? stat(path, &info) : lstat(path, &info)) != 0)
        return {};
    return file_identity{static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino), true};
}

bool list_directory(const char* path, const std::function<void(const char* name)>& visit)
{
    DIR* dir = opendir(path);
    if (dir == nullptr)
        return false;
    while (const dirent* entry = readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            visit(entry->d_name);
    }
    closedir(dir);
    return true;
}

bool same_file_name(const char* a, const char* b) { return std::strcmp(a, b) == 0; }

unsigned long current_process_id() { return static_cast<unsigned long>(getpid()); }

bool process_is_running(unsigned long id)
{
    return kill(static_cast<pid_t>(id), 0) == 0 || errno == EPERM;
}

bool is_terminal(std::FILE* stream) { return isatty(fileno(stream)) != 0; }

void ignore_broken_pipe() { std::signal(SIGPIPE, SIG_IGN); }

void hold_standard_descriptors()
{
    // Descriptors are handed out lowest first: open gives the closed one.
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        const int held = open("/dev/null", O_RDONLY);
        if (held >= 0 && held != fd) {
            dup2(held, fd);
            close(held);
        }
    }
}

namespace {

// The interrupts waited for, and the one that wakes the watcher to stop.
sigset_t watched_signals()
{
    sigset_t set;
    sigemptyset(&set);
    for (const int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGUSR1})
        sigaddset(&set, signal_number);
    return set;
}

} // namespace

// The signals are blocked in every thread (the threads made later inherit
// the mask) and taken by sigwait on the watcher's own thread, where the
// handler may lock and free as any code can.
interrupt_watch::interrupt_watch(std::function<void()> on_interrupt) : on_interrupt_(std::move(on_interrupt))
{
    const sigset_t set = watched_signals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    watcher_ = std::thread([this, set] {
        for (;;) {
            int signal_number = 0;
            if (sigwait(&set, &signal_number) != 0)
                continue;
            if (signal_number == SIGUSR1) {
                if (stopping_)
                    return;
                continue;
            }
            on_interrupt_();
            // End as the signal would have ended the process.
            std::signal(signal_number, SIG_DFL);
            sigset_t only;
            sigemptyset(&only);
            sigaddset(&only, signal_number);
            pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
            raise(signal_number);
            _exit(128 + signal_number);
        }
    });
}

interrupt_watch::~interrupt_watch()
{
    stopping_ = true;
    pthread_kill(watcher_.native_handle(), SIGUSR1);
    watcher_.join();
    const sigset_t set = watched_signals();
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
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

std::string file_name_from_sheet(const char* name) { return name; }

// ---- Copying a byte range from one file to another ----
// Linux's copy_file_range copies inside the kernel: the bytes never come out
// to the program. Where it cannot (another file system on an older kernel, a FUSE
// mount, a kernel without it) or fails, the rest goes through pread and
// write, which also tell a read that fails (the input ends there) from a
// write that does.
namespace {

// Writes all size bytes; 0, or the errno of the write that failed.
int write_whole(int fd, const unsigned char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t written = write(fd, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return written < 0 ? errno : EIO;
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return 0;
}

// The next step of a copy: what is left, but at most limit bytes.
std::size_t copy_step(std::int64_t left, std::size_t limit)
{
    return left < static_cast<std::int64_t>(limit) ? static_cast<std::size_t>(left) : limit;
}

} // namespace

byte_copy copy_bytes(std::FILE* from, std::int64_t offset, std::FILE* to, std::int64_t count,
                     unsigned char* buffer, std::size_t buffer_size)
{
    const int in = fileno(from);
    const int out = fileno(to);
    off_t at = static_cast<off_t>(offset);
    byte_copy done{0, 0};
#ifdef __linux__
    while (done.copied < count) {
        // A gibibyte a call at most, which a 32-bit size_t holds too.
        const ssize_t got = copy_file_range(in, &at, out, nullptr, copy_step(count - done.copied, 1u << 30), 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;   // the end of the input, or the kernel cannot: the loop below tells which
        done.copied += got;
    }
#endif
    while (done.copied < count) {
        const ssize_t got = pread(in, buffer, copy_step(count - done.copied, buffer_size), at);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        done.write_error = write_whole(out, buffer, static_cast<std::size_t>(got));
        if (done.write_error != 0)
            break;
        at += got;
        done.copied += got;
    }
    return done;
}

// ---- Releasing a file's cached pages ----
// POSIX_FADV_DONTNEED frees the clean pages; the contents stay on disk. It
// would first write out the dirty ones, of a file about to be replaced, so
// only a file the kernel holds no unwritten page of is released: cachestat
// says (Linux 6.5); where it cannot, a file untouched for a minute, as the
// kernel writes back what has been dirty for 30 seconds. The name is checked
// first and opened without following a link, without blocking and only to
// read, so a FIFO or device put there is not touched.
namespace {

// The file's dirty pages and those being written, or -1 when unknown.
long long unwritten_pages(int fd)
{
#if defined(__NR_cachestat) || (defined(__linux__) && (defined(__x86_64__) || defined(__aarch64__)))
#ifdef __NR_cachestat
    constexpr long cachestat_call = __NR_cachestat;
#else
    constexpr long cachestat_call = 451;   // older headers; the number of x86-64 and arm64
#endif
    struct { std::uint64_t offset, length; } range{0, 0};   // 0 length: to the end
    struct { std::uint64_t cache, dirty, writeback, evicted, recently_evicted; } pages{};
    if (syscall(cachestat_call, fd, &range, &pages, 0) == 0)
        return static_cast<long long>(pages.dirty + pages.writeback);
#else
    (void)fd;
#endif
    return -1;
}

} // namespace

void release_cached_contents(const char* path)
{
    struct stat info {};
    if (lstat(path, &info) != 0 || !S_ISREG(info.st_mode))
        return;
    const int fd = open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return;
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        const long long unwritten = unwritten_pages(fd);
        if (unwritten == 0 || (unwritten < 0 && std::time(nullptr) - info.st_mtime > 60))
            posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    }
    close(fd);
}

// ---- Reserving disk space for a file ----
// fallocate sets the blocks aside in a few extents at once, where the page
// cache would reserve them 4 KB at a time as the writes come (ext4's delayed
// allocation, some 15 % of a data track's copy). KEEP_SIZE leaves the size
// to the writes. A file system without it goes on without: no emulation by
// writing zeros, as posix_fallocate would.
void reserve_file_space(std::FILE* file, std::int64_t bytes)
{
#ifdef __linux__
    if (bytes > 0 && fallocate(fileno(file), FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(bytes)) != 0) {
        // Not an error: the writes find space as they go, or report why not.
    }
#else
    (void)file;
    (void)bytes;
#endif
}

#endif

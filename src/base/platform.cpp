#include "base/platform.h"

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>

#ifdef _WIN32
#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
// Ask the runtime to expand * and ? in the command line, as Windows shells don't.
extern "C" int _dowildcard;
int _dowildcard = -1;
#else
#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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

file_stream open_regular_file(const char* path)
{
    struct _stat64 info {};
    if (_stat64(path, &info) != 0 || (info.st_mode & _S_IFREG) == 0)
        return nullptr;
    return file_stream(std::fopen(path, "rb"));
}

file_stream create_new_file(const char* path)
{
    const int fd = _open(path, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (fd < 0)
        return nullptr;
    std::FILE* file = _fdopen(fd, "wb");
    if (file == nullptr)
        _close(fd);
    return file_stream(file);
}

bool replace_file(const char* from, const char* to) { return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) != 0; }

bool remove_file(const char* path) { return DeleteFileA(path) != 0; }

path_kind kind_of_path(const char* path)
{
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return path_kind::missing;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return path_kind::directory;
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? path_kind::other : path_kind::regular_file;
}

file_identity identify_file(const char* path, bool follow)
{
    const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    HANDLE file = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, flags, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return {};
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = GetFileInformationByHandle(file, &info) != 0;
    CloseHandle(file);
    if (!known)
        return {};
    return file_identity{info.dwVolumeSerialNumber,
                         std::uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow, true};
}

bool list_directory(const char* path, const std::function<void(const char* name)>& visit)
{
    const std::string pattern = std::string(path) + "\\*";
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA(pattern.c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    do {
        if (std::strcmp(entry.cFileName, ".") != 0 && std::strcmp(entry.cFileName, "..") != 0)
            visit(entry.cFileName);
    } while (FindNextFileA(search, &entry) != 0);
    FindClose(search);
    return true;
}

bool same_file_name(const char* a, const char* b) { return _stricmp(a, b) == 0; }

unsigned long current_process_id() { return GetCurrentProcessId(); }

bool process_is_running(unsigned long id)
{
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, id);
    if (process == nullptr)
        return GetLastError() == ERROR_ACCESS_DENIED;
    const bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    CloseHandle(process);
    return running;
}

bool is_terminal(std::FILE* stream) { return _isatty(_fileno(stream)) != 0; }

void ignore_broken_pipe() {}

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

void wait_for_key()
{
    // Output not yet written would come out after the prompt: cmd.exe writes
    // to the console itself, and msvcrt buffers a redirected stdout.
    std::fflush(nullptr);
    std::system("pause");
}

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

#endif

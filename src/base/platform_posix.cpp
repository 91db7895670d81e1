// The platform contract on POSIX systems, its files; the process's side
// (other processes, the console, interrupts, the folder lock) is in
// platform_posix_process.cpp.
#include "base/platform.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
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


file_stream open_regular_file(const char* path)
{
    // Non-blocking, so a FIFO at that name cannot hold the open until some
    // writer appears; it is refused below like any other non-regular file.
    const int fd = open(path, O_RDONLY | O_NONBLOCK);
    if (fd < 0)
        return nullptr;
    struct stat info {};
    const bool stated = fstat(fd, &info) == 0;
    if (!stated || !S_ISREG(info.st_mode) || fcntl(fd, F_SETFL, 0) != 0) {
        // errno says why, for a folder and a FIFO too.
        const int error = !stated || S_ISREG(info.st_mode) ? errno : S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
        close(fd);
        errno = error;
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

bool place_new_file(const char* from, const char* to)
{
    // A link is made only where no name is. A file system without links
    // (FAT, some network mounts) has Linux's rename that will not replace.
    if (link(from, to) == 0) {
        unlink(from);
        return true;
    }
    if (errno == EEXIST)
        return false;
#ifdef RENAME_NOREPLACE
    if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0)
        return true;
    if (errno == EEXIST)
        return false;
#endif
    struct stat info {};
    if (lstat(to, &info) == 0) {
        errno = EEXIST;
        return false;
    }
    return std::rename(from, to) == 0;
}

bool remove_file(const char* path) { return unlink(path) == 0; }

namespace {

// EINVAL, EROFS: a file or folder of a file system with nothing to flush.
bool synced(int fd) { return fsync(fd) == 0 || errno == EINVAL || errno == EROFS; }

} // namespace

bool flush_to_disk(std::FILE* file) { return std::fflush(file) == 0 && synced(fileno(file)); }

void start_flush_to_disk(std::FILE* file, std::int64_t offset, std::int64_t bytes)
{
#ifdef __linux__
    if (bytes > 0 && sync_file_range(fileno(file), offset, bytes, SYNC_FILE_RANGE_WRITE) != 0) {
        // Not an error: the flush at the end writes what this did not start.
    }
#else
    (void)file;
    (void)offset;
    (void)bytes;
#endif
}

void flush_folder_to_disk(const char* path)
{
    const int fd = open(*path == '\0' ? "." : path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    synced(fd);
    close(fd);
}

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

bool read_file_facts(const char* path, file_facts& facts)
{
    struct stat info {};
    if (stat(path, &info) != 0)
        return false;
    facts.size = static_cast<std::int64_t>(info.st_size);
    facts.time = std::int64_t{info.st_mtim.tv_sec} * 1000000000 + info.st_mtim.tv_nsec;
    facts.identity = file_identity{static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino), true};
    return true;
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

bool is_symbolic_link(const char* path)
{
    struct stat info {};
    return lstat(path, &info) == 0 && S_ISLNK(info.st_mode);
}

bool modification_time(const char* path, std::int64_t& time)
{
    struct stat info {};
    if (stat(path, &info) != 0)
        return false;
    time = std::int64_t{info.st_mtim.tv_sec} * 1000000000 + info.st_mtim.tv_nsec;
    return true;
}

bool append_to_file(const char* path, const std::string& bytes)
{
    const int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0)
        return false;
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || fcntl(fd, F_SETFL, O_APPEND) != 0) {
        close(fd);
        errno = EINVAL;
        return false;
    }
    const ssize_t written = write(fd, bytes.data(), bytes.size());
    const int write_error = errno;
    const bool closed = close(fd) == 0;
    if (written != static_cast<ssize_t>(bytes.size())) {
        errno = written < 0 ? write_error : ENOSPC;
        return false;
    }
    return closed;
}

std::string full_path(const char* path)
{
    // The folder resolved, the name kept: a link at the name is the name
    // the user gave.
    const char* slash = std::strrchr(path, '/');
    const std::string folder = slash == nullptr ? "." : slash == path ? "/" : std::string(path, slash);
    char* resolved = realpath(folder.c_str(), nullptr);
    if (resolved == nullptr)
        return path;
    std::string full = resolved;
    std::free(resolved);
    if (full.back() != '/')
        full += '/';
    return full + (slash == nullptr ? path : slash + 1);
}

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

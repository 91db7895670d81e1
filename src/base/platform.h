// The few calls that differ between POSIX and Windows.
#pragma once

#include "base/file_stream.h"

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Each platform has a source file of its own (platform_posix.cpp,
// platform_windows.cpp); the few constants that differ are here.
#ifdef _WIN32
inline constexpr char path_separator = '\\';
// CON, PRN, AUX, NUL, COM1-9 and LPT1-9 name devices in every folder.
inline constexpr bool device_names_reserved = true;
#else
inline constexpr char path_separator = '/';
inline constexpr bool device_names_reserved = false;
#endif

// The format checks of printf-like functions: MinGW's own printf (which knows
// %lld) where the runtime's would not.
#if defined(__MINGW_PRINTF_FORMAT)
#define TRACKCARVE_PRINTF_FORMAT __MINGW_PRINTF_FORMAT
#else
#define TRACKCARVE_PRINTF_FORMAT printf
#endif

// Opens an existing regular file for binary reading; a directory, a FIFO or
// a device is refused (POSIX would open a directory and fail only on the
// first read, and a FIFO would block). errno says why none was opened.
file_stream open_regular_file(const char* path);

// Creates a new file for binary writing; fails when anything at all holds
// the name (a file, a link, a FIFO), so nothing is followed or truncated.
file_stream create_new_file(const char* path);

// Renames from to to, replacing whatever file, link or FIFO holds that name:
// only the name moves, the old file's contents (and a link's target) stay.
bool replace_file(const char* from, const char* to);

// Gives the file at from the name to, only where no file, link or FIFO
// holds it: false with errno EEXIST when one does, and from stays.
bool place_new_file(const char* from, const char* to);

bool remove_file(const char* path);

// Puts what was written to the file on the disk itself, past every cache of
// the system (fsync; FlushFileBuffers on Windows), so that once it is renamed
// into place a power loss leaves the complete file there, never a hole.
// Flushes the stream first. A file system that keeps nothing to flush is no
// failure.
bool flush_to_disk(std::FILE* file);

// Starts putting bytes of the file, from offset on, on the disk and returns
// at once (Linux sync_file_range), so that the flush_to_disk that ends the
// file finds little left to write and its wait overlaps the work still
// going on. Only a head start, never a promise: nothing where the platform
// has no such call, and no error when it fails.
void start_flush_to_disk(std::FILE* file, std::int64_t offset, std::int64_t bytes);

// Puts the folder's entries, the names just renamed into it, on the disk
// (fsync of the folder on POSIX). Nothing on Windows, where NTFS logs them
// and no folder can be flushed.
void flush_folder_to_disk(const char* path);

// Makes the file bytes longer with zeros at its end, in one call: where the
// file system allows, as a hole that takes no space and no time.
bool append_zeros(std::FILE* file, std::int64_t bytes);

// Copies up to count bytes of from, starting at its byte offset, to to at
// its current end: inside the kernel where the platform can (copy_file_range
// on Linux), else through buffer in plain reads and writes. Both streams must
// be unbuffered; from's stream position is left undefined. Fewer bytes are
// copied when from ends or cannot be read; write_error is then 0, and the
// errno of a failed write otherwise.
struct byte_copy {
    std::int64_t copied;
    int write_error;
};
byte_copy copy_bytes(std::FILE* from, std::int64_t offset, std::FILE* to, std::int64_t count,
                     unsigned char* buffer, std::size_t buffer_size);

// Sets disk space aside for the first bytes the file will be written,
// without changing its size, where the platform can do it at once (Linux
// fallocate); elsewhere, and where it fails, nothing: the writes then take
// the space as they come.
void reserve_file_space(std::FILE* file, std::int64_t bytes);

// Drops what the page cache holds of the regular file at path (not through
// a link), leaving its contents as they are: a file about to be replaced by
// a rename gives its memory back now, as truncating it would, and its
// successor is written into that memory instead of into pages long idle.
void release_cached_contents(const char* path);

// Creates one directory; fails when it exists already.
bool make_directory(const char* path);

// 64-bit seek from the start and size; a 32-bit long cannot reach past 2 GiB.
bool seek_to(std::FILE* file, std::int64_t offset);
std::int64_t file_size(std::FILE* file);

// What a name holds, without following a symbolic link there.
enum class path_kind { missing, regular_file, directory, other };
path_kind kind_of_path(const char* path);

// The file a name holds, so two names can be told to be the same file:
// device and inode, or volume and file index. `follow`: through a symbolic
// link at the name, else the name's own entry.
struct file_identity {
    std::uint64_t volume = 0;
    std::uint64_t index = 0;
    bool known = false;
    bool operator==(const file_identity&) const = default;
};
file_identity identify_file(const char* path, bool follow);

// What the file a path leads to is now, to tell later whether it changed:
// its size, when it was last written (as modification_time gives it) and
// which file it is. False when there is no such file.
struct file_facts {
    std::int64_t size = -1;
    std::int64_t time = 0;
    file_identity identity;
    bool operator==(const file_facts&) const = default;
};
bool read_file_facts(const char* path, file_facts& facts);

// The name is a symbolic link (on Windows also a directory junction), which
// a path through it would follow.
bool is_symbolic_link(const char* path);

// An exclusive advisory lock on a folder, for one run writing there at a
// time: held from lock_folder until the object dies or the process ends,
// however it ends. Empty (held() false) where the folder could not be
// locked: it is gone, or its file system keeps no such locks.
class folder_lock {
public:
    folder_lock() = default;
    ~folder_lock();
    folder_lock(folder_lock&& other) noexcept;
    folder_lock& operator=(folder_lock&& other) noexcept;
    folder_lock(const folder_lock&) = delete;
    folder_lock& operator=(const folder_lock&) = delete;
    bool held() const;

private:
    friend folder_lock lock_folder(const char* dir, const char* lock_file_name);
#ifdef _WIN32
    void* handle_ = nullptr;
#else
    int fd_ = -1;
#endif
};

// Waits until this process holds the lock on the folder dir. POSIX locks
// the folder itself (flock on a descriptor of it): nothing is created, no
// name in the folder can be swapped for another file, and every path to the
// folder meets the same lock. Windows cannot lock a directory: it locks the
// file lock_file_name in the folder, made hidden and empty the first time
// and left there, as a file that is renamed over could not hold a lock.
folder_lock lock_folder(const char* dir, const char* lock_file_name);

// Calls visit with the name of every entry of the directory but . and ..;
// false when it cannot be read.
bool list_directory(const char* path, const std::function<void(const char* name)>& visit);

// The two names are the same name: byte for byte, or on Windows, whose file
// names ignore case, without regard to case.
bool same_file_name(const char* a, const char* b);

unsigned long current_process_id();
bool process_is_running(unsigned long id);

bool is_terminal(std::FILE* stream);

// A write to a closed pipe fails with an error instead of ending the process.
void ignore_broken_pipe();

// Keeps the three standard descriptors taken, so that no file the run opens
// becomes its standard input, output or error: one that was closed is held
// by the null device, opened read-only, where a write fails (and the
// console reports it) as it did on the closed descriptor.
void hold_standard_descriptors();

// While it lives, an interrupt (Ctrl-C, SIGTERM, SIGHUP; a console close on
// Windows) calls on_interrupt on a thread of its own and then ends the
// process as the interrupt would have. Make it before any other thread.
class interrupt_watch {
public:
    explicit interrupt_watch(std::function<void()> on_interrupt);
    ~interrupt_watch();
    interrupt_watch(const interrupt_watch&) = delete;
    interrupt_watch& operator=(const interrupt_watch&) = delete;

    struct state;   // what the platform's watch holds: its thread, the saved mask

private:
    std::unique_ptr<state> state_;
};

// Waits for a key press where the console has a "pause" command.
void wait_for_key();

// The name a sheet's FILE line gives, as a path inside the program takes it:
// UTF-8. POSIX takes the bytes as they are. Windows keeps a name that is valid
// UTF-8 and reads any other in the ANSI code page, as sheets written for the
// narrow Windows calls are.
std::string file_name_from_sheet(const char* name);

// Text in the named encoding as UTF-8: POSIX takes iconv's names (cp1251,
// shift_jis, koi8-r, ...), Windows the code pages it has, by the usual names
// of the common ones or as cpNNN. A byte sequence the encoding does not have
// becomes U+FFFD. False when the system does not know the encoding.
bool utf8_from_encoding(const char* encoding, std::string_view text, std::string& utf8);

// When the file a path leads to was last written, in the platform's own
// ticks (nanoseconds on POSIX, 100 ns on Windows): only for comparing with
// another such time. False when there is no such file.
bool modification_time(const char* path, std::int64_t& time);

// Appends bytes to the file (created when missing) in one write, so that
// processes appending to one file side by side never mix their lines. Only
// a regular file is written: it is opened without blocking, so a FIFO with
// no reader cannot hold the run. False, with errno set, when the file cannot
// be opened (EINVAL: not a regular file) or the write is short.
bool append_to_file(const char* path, const std::string& bytes);

// The path from the root of the file system to the file a path names (its
// folder's links resolved, the name itself as it is); the path as given
// when there is none.
std::string full_path(const char* path);

#ifdef _WIN32
// The command line as the run takes it: every argument in UTF-8, and one
// with * or ? replaced by the names that match it (Windows' shells leave
// that to the program), sorted by name with letter case ignored, as NTFS
// lists them; an argument that matches nothing stays as it is.
std::vector<std::string> utf8_arguments(int argc, wchar_t** argv);
#endif

// The platform contract on Windows, its files: the wide (UTF-16) calls, every
// path converted from the program's UTF-8 at the edge. The process's side
// (console, interrupts, locks, the command line) is in
// platform_windows_process.cpp.
#include "base/platform.h"
#include "base/platform_windows.h"

#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <cerrno>
#include <atomic>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <utility>

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

namespace {

char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// The number after a prefix ("cp1251", "windows-1251"); 0 when there is none.
unsigned number_after(const std::string& name, const char* prefix)
{
    const std::size_t length = std::strlen(prefix);
    if (name.compare(0, length, prefix) != 0 || name.size() == length || name.size() > length + 5)
        return 0;
    unsigned number = 0;
    for (std::size_t i = length; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9')
            return 0;
        number = number * 10 + static_cast<unsigned>(name[i] - '0');
    }
    return number;
}

// The code page of an encoding's name, as iconv would take it; 0 for none.
unsigned code_page_of(const char* encoding)
{
    std::string name;
    for (const char* p = encoding; *p != '\0'; ++p)
        name += ascii_lower(*p == '_' ? '-' : *p);
    static constexpr std::pair<const char*, unsigned> names[] = {
        {"shift-jis", 932}, {"sjis", 932},      {"ms-kanji", 932},  {"euc-jp", 20932},   {"gbk", 936},
        {"gb2312", 936},    {"gb18030", 54936}, {"big5", 950},      {"euc-kr", 949},     {"uhc", 949},
        {"koi8-r", 20866},  {"koi8-u", 21866},  {"latin1", 28591},  {"macintosh", 10000}, {"utf-8", 65001},
        {"utf8", 65001},    {"us-ascii", 20127}, {"ascii", 20127},  {"tis-620", 874},
    };
    for (const auto& [known, code_page] : names)
        if (name == known)
            return code_page;
    for (const char* prefix : {"cp", "windows-", "ibm"})
        if (const unsigned code_page = number_after(name, prefix); code_page != 0)
            return code_page;
    // ISO 8859-1 to -9 are 28591 to 28599; -13 and -15 are 28603 and 28605.
    for (const char* prefix : {"iso-8859-", "iso8859-"}) {
        const unsigned part = number_after(name, prefix);
        if ((part >= 1 && part <= 9) || part == 13 || part == 15)
            return 28590 + part;
    }
    return 0;
}

} // namespace

bool utf8_from_encoding(const char* encoding, std::string_view text, std::string& utf8)
{
    const unsigned code_page = code_page_of(encoding);
    if (code_page == 0 || IsValidCodePage(code_page) == 0)
        return false;
    utf8 = text.empty() ? std::string() : utf8_from_wide(widened(code_page, 0, std::string(text).c_str()).c_str());
    return true;
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
    if (file && (_fstat64(_fileno(file.get()), &info) != 0 || (info.st_mode & _S_IFMT) != _S_IFREG)) {
        errno = EINVAL;
        return nullptr;
    }
    return file;
}

namespace {

// The errno of the last failed file call, as the C runtime's own calls set
// it, for the callers that tell the reasons apart and the messages.
int errno_of_last_error()
{
    switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE: return ENOENT;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: return EEXIST;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT: return EACCES;
    case ERROR_TOO_MANY_OPEN_FILES: return EMFILE;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return ENOSPC;
    default: return EIO;
    }
}

} // namespace

// Shared for deleting too: an interrupt removes a temporary while a writer
// still has it open (the name goes when the process ends and closes it).
file_stream create_new_file(const char* path)
{
    const HANDLE created = CreateFileW(wide_path(path).c_str(), GENERIC_WRITE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                       FILE_ATTRIBUTE_NORMAL, nullptr);
    if (created == INVALID_HANDLE_VALUE) {
        errno = errno_of_last_error();
        return nullptr;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(created), _O_BINARY);
    if (fd < 0) {
        CloseHandle(created);
        return nullptr;
    }
    std::FILE* file = _fdopen(fd, "wb");
    if (file == nullptr)
        _close(fd);
    return file_stream(file);
}

bool replace_file(const char* from, const char* to)
{
    return MoveFileExW(wide_path(from).c_str(), wide_path(to).c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

bool place_new_file(const char* from, const char* to)
{
    // Without MOVEFILE_REPLACE_EXISTING the move fails where a file is.
    if (MoveFileExW(wide_path(from).c_str(), wide_path(to).c_str(), 0) != 0)
        return true;
    const DWORD error = GetLastError();
    errno = error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS ? EEXIST : EACCES;
    return false;
}

bool remove_file(const char* path) { return DeleteFileW(wide_path(path).c_str()) != 0; }

bool flush_to_disk(std::FILE* file)
{
    if (std::fflush(file) != 0)
        return false;
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    // ERROR_INVALID_FUNCTION: a device or file system with nothing to flush.
    return FlushFileBuffers(handle) != 0 || GetLastError() == ERROR_INVALID_FUNCTION;
}

// Windows has no call that starts the writes without waiting for them:
// FlushFileBuffers at the end does it all.
void start_flush_to_disk(std::FILE*, std::int64_t, std::int64_t) {}

void flush_folder_to_disk(const char*) {}

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

bool read_file_facts(const char* path, file_facts& facts)
{
    const HANDLE opened = CreateFileW(wide_path(path).c_str(), FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (opened == INVALID_HANDLE_VALUE)
        return false;
    const owned_handle file(opened);
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileInformationByHandle(file.get(), &info) == 0)
        return false;
    facts.size = static_cast<std::int64_t>(std::uint64_t{info.nFileSizeHigh} << 32 | info.nFileSizeLow);
    facts.time = static_cast<std::int64_t>(std::uint64_t{info.ftLastWriteTime.dwHighDateTime} << 32 |
                                           info.ftLastWriteTime.dwLowDateTime);
    facts.identity = file_identity{info.dwVolumeSerialNumber,
                                   std::uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow, true};
    return true;
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

bool modification_time(const char* path, std::int64_t& time)
{
    // By a handle: _wstat64 refuses the \\?\ of a long path.
    file_facts facts;
    if (!read_file_facts(path, facts))
        return false;
    time = facts.time;
    return true;
}

bool append_to_file(const char* path, const std::string& bytes)
{
    // FILE_APPEND_DATA without FILE_WRITE_DATA: every write goes to the end
    // of the file as it then is, as O_APPEND does.
    const HANDLE opened = CreateFileW(wide_path(path).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (opened == INVALID_HANDLE_VALUE) {
        errno = errno_of_last_error();
        return false;
    }
    const owned_handle file(opened);
    // A pipe or a device: only a file on a disk takes the lines.
    if (GetFileType(file.get()) != FILE_TYPE_DISK) {
        errno = EINVAL;
        return false;
    }
    DWORD written = 0;
    const auto size = static_cast<DWORD>(bytes.size());
    if (WriteFile(file.get(), bytes.data(), size, &written, nullptr) == 0 || written != size) {
        errno = errno_of_last_error();
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

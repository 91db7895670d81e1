// Stand-alone ways of writing bytes 16..2063 of each 2352-byte sector of a
// BIN to an ISO, to measure what the data-track copy loop could gain
// (bench/copy_strategies.sh). Not trackcarve's code: a model of it and of
// alternatives, with the same fixed-size memory.
//
//   copy_strategies STRATEGY BIN ISO
//     stdio64    fread 64 sectors, memcpy the user data, fwrite 64 * 2048
//                bytes, buffers in one heap object (trackcarve's loop and
//                track_buffer as of this writing)
//     stdio64nb  the same with both streams unbuffered (setvbuf _IONBF): one
//                read(2) and one write(2) per pass
//     stdio64a   stdio64 with the buffer object aligned to 4096 bytes
//     stdio64nba both changes
//     readN      read(2) N sectors, memcpy, write(2), 4096-aligned buffers
//     cfr        copy_file_range(2) per sector: no user-space copy at all
//     writev64   read(2) 64 sectors, writev(2) 64 iovecs into the read buffer
//                (no user-space copy of the user data)
//     writev512  the same with 512 sectors per pass (1.2 MB buffer)
//     mmap       map the BIN in 9.6 MB windows, writev(2) up to 1024 iovecs
//                straight from the mapping: one copy, page cache to page cache
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

namespace {

constexpr long raw = 2352;
constexpr long user = 2048;
constexpr long offset = 16;

bool write_fully(int fd, iovec* vectors, int count)
{
    while (count > 0) {
        ssize_t done = writev(fd, vectors, count);
        if (done < 0)
            return false;
        while (count > 0 && static_cast<size_t>(done) >= vectors->iov_len) {
            done -= static_cast<ssize_t>(vectors->iov_len);
            ++vectors;
            --count;
        }
        if (count > 0) {
            vectors->iov_base = static_cast<char*>(vectors->iov_base) + done;
            vectors->iov_len -= static_cast<size_t>(done);
        }
    }
    return true;
}

long read_fully(int fd, unsigned char* buffer, long size)
{
    long got = 0;
    while (got < size) {
        const ssize_t n = read(fd, buffer + got, static_cast<size_t>(size - got));
        if (n <= 0)
            break;
        got += n;
    }
    return got;
}

// trackcarve's working memory as of this writing: one heap object, which
// glibc serves from mmap at a page + 16 bytes.
struct plain_buffer {
    unsigned char sectors[64 * raw];
    unsigned char user_data[64 * user];
};
struct alignas(4096) aligned_buffer {
    unsigned char sectors[64 * raw];
    unsigned char user_data[64 * user];
};

template <typename Buffer>
int stdio64(const char* bin_path, const char* iso_path, bool unbuffered)
{
    std::FILE* in = std::fopen(bin_path, "rb");
    std::FILE* out = std::fopen(iso_path, "wb");
    if (in == nullptr || out == nullptr)
        return 1;
    if (unbuffered) {
        std::setvbuf(in, nullptr, _IONBF, 0);
        std::setvbuf(out, nullptr, _IONBF, 0);
    }
    const auto memory = std::make_unique<Buffer>();
    for (;;) {
        const std::size_t got = std::fread(memory->sectors, 1, sizeof memory->sectors, in);
        const long sectors = static_cast<long>(got) / raw;
        if (sectors == 0)
            break;
        for (long i = 0; i < sectors; ++i)
            std::memcpy(memory->user_data + i * user, memory->sectors + i * raw + offset, user);
        std::fwrite(memory->user_data, 1, static_cast<std::size_t>(sectors * user), out);
    }
    std::fclose(in);
    return std::fclose(out) == 0 ? 0 : 1;
}

int read_n(const char* bin_path, const char* iso_path, long per_pass)
{
    const int in = open(bin_path, O_RDONLY);
    const int out = open(iso_path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0)
        return 1;
    // Page-aligned buffers: the copies to and from the page cache run
    // measurably faster than from malloc's page + 16 bytes.
    auto* buffer = static_cast<unsigned char*>(std::aligned_alloc(4096, static_cast<size_t>(per_pass * raw)));
    auto* data = static_cast<unsigned char*>(std::aligned_alloc(4096, static_cast<size_t>(per_pass * user)));
    for (;;) {
        const long sectors = read_fully(in, buffer, per_pass * raw) / raw;
        if (sectors == 0)
            break;
        for (long i = 0; i < sectors; ++i)
            std::memcpy(data + i * user, buffer + i * raw + offset, user);
        iovec vector{data, static_cast<size_t>(sectors * user)};
        if (!write_fully(out, &vector, 1))
            return 1;
    }
    close(in);
    return close(out) == 0 ? 0 : 1;
}

int copy_range(const char* bin_path, const char* iso_path)
{
    const int in = open(bin_path, O_RDONLY);
    const int out = open(iso_path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    struct stat info {};
    if (in < 0 || out < 0 || fstat(in, &info) != 0)
        return 1;
    const long total = info.st_size / raw;
    for (long i = 0; i < total; ++i) {
        loff_t from = i * raw + offset;
        for (size_t left = user; left > 0;) {
            const ssize_t n = copy_file_range(in, &from, out, nullptr, left, 0);
            if (n <= 0)
                return 1;
            left -= static_cast<size_t>(n);
        }
    }
    close(in);
    return close(out) == 0 ? 0 : 1;
}

int writev_n(const char* bin_path, const char* iso_path, long per_pass)
{
    const int in = open(bin_path, O_RDONLY);
    const int out = open(iso_path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0)
        return 1;
    std::vector<unsigned char> buffer(static_cast<size_t>(per_pass * raw));
    std::vector<iovec> vectors(static_cast<size_t>(per_pass));
    for (;;) {
        const long sectors = read_fully(in, buffer.data(), per_pass * raw) / raw;
        if (sectors == 0)
            break;
        for (long i = 0; i < sectors; ++i)
            vectors[static_cast<size_t>(i)] = iovec{buffer.data() + i * raw + offset, user};
        if (!write_fully(out, vectors.data(), static_cast<int>(sectors)))
            return 1;
    }
    close(in);
    return close(out) == 0 ? 0 : 1;
}

int mmap_windows(const char* bin_path, const char* iso_path)
{
    const int in = open(bin_path, O_RDONLY);
    const int out = open(iso_path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    struct stat info {};
    if (in < 0 || out < 0 || fstat(in, &info) != 0)
        return 1;
    const long total = info.st_size / raw;
    // A window is a whole number of sectors and of 4096-byte pages, so every
    // mapping starts page-aligned: 4096 sectors = 2352 pages = 9.6 MB.
    constexpr long window_sectors = 4096;
    std::vector<iovec> vectors(1024);
    for (long first = 0; first < total; first += window_sectors) {
        const long count = std::min(window_sectors, total - first);
        const size_t length = static_cast<size_t>(count * raw);
        void* map = mmap(nullptr, length, PROT_READ, MAP_PRIVATE | MAP_POPULATE, in, first * raw);
        if (map == MAP_FAILED)
            return 1;
        const auto* base = static_cast<unsigned char*>(map);
        for (long done = 0; done < count;) {
            const long n = std::min<long>(1024, count - done);
            for (long i = 0; i < n; ++i)
                vectors[static_cast<size_t>(i)] =
                    iovec{const_cast<unsigned char*>(base + (done + i) * raw + offset), user};
            if (!write_fully(out, vectors.data(), static_cast<int>(n)))
                return 1;
            done += n;
        }
        munmap(map, length);
    }
    close(in);
    return close(out) == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: copy_strategies stdio64[nb][a]|readN|cfr|writev64|writev512|mmap BIN ISO\n");
        return 2;
    }
    const std::string_view strategy = argv[1];
    if (strategy == "stdio64")
        return stdio64<plain_buffer>(argv[2], argv[3], false);
    if (strategy == "stdio64nb")
        return stdio64<plain_buffer>(argv[2], argv[3], true);
    if (strategy == "stdio64a")
        return stdio64<aligned_buffer>(argv[2], argv[3], false);
    if (strategy == "stdio64nba")
        return stdio64<aligned_buffer>(argv[2], argv[3], true);
    if (strategy.starts_with("read"))
        return read_n(argv[2], argv[3], std::atol(argv[1] + 4));
    if (strategy == "cfr")
        return copy_range(argv[2], argv[3]);
    if (strategy == "writev64")
        return writev_n(argv[2], argv[3], 64);
    if (strategy == "writev512")
        return writev_n(argv[2], argv[3], 512);
    if (strategy == "mmap")
        return mmap_windows(argv[2], argv[3]);
    std::fprintf(stderr, "unknown strategy\n");
    return 2;
}

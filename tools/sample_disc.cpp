#include "sample_disc.h"

#include <fstream>
#include <iterator>
#include <stdexcept>

void fail(const std::string& what) { throw std::runtime_error(what); }

std::uint64_t next_random(std::uint64_t& state)
{
    state += 0x9E3779B97F4A7C15ULL;
    std::uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

double random_unit(std::uint64_t& state)
{
    return static_cast<double>(next_random(state) >> 11) * 0x1.0p-52 - 1.0;
}

void write_file(const fs::path& path, const void* data, std::size_t size)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    out.close();
    if (!out)
        fail("cannot write " + path.string());
}

void write_text(const fs::path& path, const std::string& text) { write_file(path, text.data(), text.size()); }

byte_vector read_file(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        fail("cannot read " + path.string());
    return byte_vector(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

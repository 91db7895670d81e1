// A fast hash of a file's bytes (XXH3, 64 bits), to tell later whether the
// file still holds what was written: not a defence against anyone who
// means to forge a file, only against one that changed.
#pragma once

#define XXH_STATIC_LINKING_ONLY   // the state's size, so it lives inside its owner
#include <xxhash.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Bytes added in pieces hash as the same bytes added at once.
class content_hash {
public:
    content_hash();
    content_hash(const content_hash&) = delete;
    content_hash& operator=(const content_hash&) = delete;
    void add(const void* bytes, std::size_t size);
    std::uint64_t value() const;

private:
    XXH3_state_t state_;
};

std::uint64_t hash_of(std::string_view bytes);

// 16 lower-case hex digits, as the record keeps a hash.
std::string hash_text(std::uint64_t hash);

// The hash of a regular file's whole contents, read through buffer; false
// when it cannot be opened (or is not a regular file) or read to its end.
bool hash_file(const char* path, unsigned char* buffer, std::size_t buffer_size, std::uint64_t& hash);

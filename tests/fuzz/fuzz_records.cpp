// Feeds arbitrary bytes to the two readers of files a user may have edited
// or damaged: a lossless split's manifest (first byte even) and a DAT (odd).
// Either refuses with a reason or gives what the restore and the check rely
// on: a manifest's pieces run end to end over its BIN and each file lies in
// it, its text reads back as the same manifest.
#include "app/dat_check.h"
#include "cue/manifest.h"
#include "fuzz_support.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <string>

namespace {

[[noreturn]] void fail(const char* format, ...) __attribute__((format(printf, 1, 2)));
void fail(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    fail_with("fuzz_records", format, arguments);
}

void check_manifest(const std::string& text)
{
    disc_manifest manifest;
    std::string why;
    if (!read_manifest(text, manifest, why)) {
        if (why.empty())
            fail("a manifest refused without a reason");
        return;
    }
    std::int64_t at = 0;
    for (const manifest_piece& piece : manifest.pieces) {
        if (piece.first != at || piece.bytes < 0)
            fail("pieces that do not run end to end");
        at += piece.bytes;
    }
    if (at != manifest.bin_size)
        fail("pieces that do not cover the BIN");
    for (const manifest_file& file : manifest.files)
        if (file.bin_first < 0 || file.bin_bytes < 0 || file.bin_bytes > manifest.bin_size - file.bin_first)
            fail("a file outside the BIN");
    disc_manifest again;
    const std::string written = manifest_text(manifest);
    if (!read_manifest(written, again, why) || manifest_text(again) != written)
        fail("a manifest whose text does not read back as itself");
}

void check_dat(const unsigned char* data, std::size_t size)
{
    char path[] = "/tmp/fuzz-records-XXXXXX";
    const int descriptor = mkstemp(path);
    if (descriptor < 0)
        fail("no scratch file");
    std::FILE* file = fdopen(descriptor, "wb");
    if (file == nullptr || std::fwrite(data, 1, size, file) != size || std::fclose(file) != 0)
        fail("the scratch file could not be written");
    dat_catalogue dat;
    std::string why;
    const bool read = read_dat_file(path, dat, why);
    std::remove(path);
    if (!read && why.empty())
        fail("a DAT refused without a reason");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    if (data[0] % 2 == 0)
        check_manifest(std::string(reinterpret_cast<const char*>(data + 1), size - 1));
    else
        check_dat(data + 1, size - 1);
    return 0;
}

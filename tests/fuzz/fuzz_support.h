// What both fuzz targets need: a failure that stops the fuzzer with a
// message, and an in-memory stream that collects what the code under test
// writes.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string_view>

// Prints "<target>: " and the message on standard error, then aborts, which
// libFuzzer reports as a finding with the input that caused it.
[[noreturn]] inline void fail_with(const char* target, const char* format, va_list arguments)
{
    std::fprintf(stderr, "%s: ", target);
    std::vfprintf(stderr, format, arguments);
    std::fputc('\n', stderr);
    std::abort();
}

struct captured_stream {
    char* text = nullptr;
    std::size_t length = 0;
    std::FILE* file = open_memstream(&text, &length);

    captured_stream()
    {
        if (file == nullptr) {
            std::fputs("open_memstream failed\n", stderr);
            std::abort();
        }
    }
    ~captured_stream()
    {
        if (file != nullptr)
            std::fclose(file);
        std::free(text);
    }
    captured_stream(const captured_stream&) = delete;
    captured_stream& operator=(const captured_stream&) = delete;

    std::string_view contents()
    {
        std::fflush(file);
        return {text, length};
    }
};

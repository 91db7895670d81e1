// What the two Windows files of the platform contract share: UTF-16 and
// UTF-8, the two forms of text at the Windows edge (the command line and the
// file calls speak UTF-16, the program UTF-8), paths for the wide calls, and
// owned handles.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <memory>
#include <string>

// MultiByteToWideChar on the whole string, terminator left out; empty when
// the text is not valid in that code page under flags.
std::wstring widened(unsigned code_page, unsigned long flags, const char* text);

// Empty when the text cannot be converted.
std::wstring wide_from_utf8(const char* text);
std::string utf8_from_wide(const wchar_t* text);

bool starts_with(const std::wstring& text, const wchar_t* prefix);

// What Windows makes of a path (/ to \\, . and .. resolved, the current
// directory put in front); empty when it cannot.
std::wstring absolute_path(const std::wstring& wide);

// The UTF-16 path for the wide file calls; a long one in its \\?\ form.
std::wstring win32_path(const std::wstring& wide);
std::wstring wide_path(const char* path);

struct find_closer {
    void operator()(HANDLE find) const { FindClose(find); }
};
using find_handle = std::unique_ptr<void, find_closer>;

struct handle_closer {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using owned_handle = std::unique_ptr<void, handle_closer>;

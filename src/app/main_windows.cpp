// The Windows entry point. The command line arrives in UTF-16 (wmain, linked
// with -municode, so no name is lost to the ANSI code page) and the run gets
// it in UTF-8, the form every path and every line of text takes inside the
// program, with its wildcards expanded; the platform functions turn paths
// back into UTF-16 for the file calls.
#include "app/run.h"
#include "base/platform.h"

#include <string>
#include <vector>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <versionhelpers.h>

namespace {

bool is_console(DWORD handle_id)
{
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(handle_id), &mode) != 0;
}

// While the program runs, a console window shows its UTF-8 text as UTF-8; at
// the end the console gets its own code page back, as cmd.exe and the
// programs run after this one in that window read their text in it.
// Redirected output needs nothing: it gets the bytes as they are.
// Before Windows 8, WriteFile to a console in the UTF-8 code page counts
// characters where it should count bytes, and msvcrt takes the difference for
// a failed write; there the console keeps its code page, and a name outside
// it shows wrongly on the screen (the files and their names are right).
// An interrupt (Ctrl-C, a closed window) ends the process without the
// destructor; a control handler then sets the OEM code page, the one a
// console starts in (the handler has nowhere to find the saved one).
class utf8_console {
public:
    utf8_console()
    {
        if ((is_console(STD_OUTPUT_HANDLE) || is_console(STD_ERROR_HANDLE)) && IsWindows8OrGreater()) {
            saved_ = GetConsoleOutputCP();
            if (saved_ != 0 && !SetConsoleOutputCP(CP_UTF8))
                saved_ = 0;
            if (saved_ != 0)
                SetConsoleCtrlHandler(on_interrupt, TRUE);
        }
    }
    ~utf8_console()
    {
        if (saved_ != 0) {
            SetConsoleCtrlHandler(on_interrupt, FALSE);
            SetConsoleOutputCP(saved_);
        }
    }
    utf8_console(const utf8_console&) = delete;
    utf8_console& operator=(const utf8_console&) = delete;

private:
    // Runs after the run's own handler (the last one set runs first), and
    // hands on to the default one, which ends the process.
    static BOOL WINAPI on_interrupt(DWORD)
    {
        SetConsoleOutputCP(GetOEMCP());
        return FALSE;
    }

    UINT saved_ = 0;   // 0: the code page was left alone
};

} // namespace

extern "C" int wmain(int argc, wchar_t** argv)
{
    std::vector<std::string> arguments = utf8_arguments(argc, argv);
    std::vector<char*> pointers;
    for (std::string& argument : arguments)
        pointers.push_back(argument.data());
    pointers.push_back(nullptr);

    const utf8_console code_page;
    console c;
    return run_trackcarve(c, static_cast<int>(arguments.size()), pointers.data());
}

// check_shortcuts: explains, for whoever supports an install, what add_shortcuts and
// remove_shortcuts make of it. Given the path of an installed add_shortcuts.exe (or
// remove_shortcuts.exe) it reports the install root the programs derive from that path, the two
// values they read from relinfo.xml and whether they refuse them, the Programs folder this
// account's run uses, the suite's five shortcuts in the all-users and in the per-user Programs
// folder with every field compared with the catalogue, and the shortcuts and empty folders that
// an earlier install or a failed upgrade left.
//
//   check_shortcuts [--json] PROGRAM
//
// It reads only: files are opened for reading, shortcuts are loaded read-only, nothing is created,
// written or deleted. It opens no path that is not on a local drive (files.h), and of the files
// the shortcuts name only those the catalogue expects. Its manifest runs it as the invoker, so
// that Windows shows it the files the programs see, not a virtualised copy. It takes its rules
// from instutil and the programs' catalogues, so it cannot drift from what they do.
//
// Exit code: 0 when the five shortcuts are where this account's run puts them, carry this
// install's fields and point at existing files of it, and nothing else is off; 1 when something
// is off; 2 on a usage error (nothing was checked).
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>

#include "checks.h"
#include "files.h"
#include "instutil/dll_search.h"
#include "instutil/owners.h"
#include "report.h"

namespace {

// Writes to standard output: UTF-16 to a console, UTF-8 to a file or pipe.
void Write(const std::wstring& text) {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    DWORD written = 0;
    if (GetConsoleMode(out, &mode)) {
        for (size_t at = 0; at < text.size(); at += 4096) {
            DWORD chunk = static_cast<DWORD>(std::min<size_t>(4096, text.size() - at));
            WriteConsoleW(out, text.data() + at, chunk, &written, nullptr);
        }
        return;
    }
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                   0, nullptr, nullptr);
    std::string utf8(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &utf8[0], size,
                        nullptr, nullptr);
    WriteFile(out, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}

constexpr char kUsage[] =
    "usage: check_shortcuts [--json] PROGRAM\n"
    "  PROGRAM  the path of an installed add_shortcuts.exe or remove_shortcuts.exe\n"
    "  --json   print the findings as JSON\n"
    "Reads only. Exit code 0: the five shortcuts are where this account's run puts them;\n"
    "1: something is off; 2: usage error.\n";

int Usage(const char* complaint) {
    if (complaint) fprintf(stderr, "check_shortcuts: %s\n", complaint);
    fputs(kUsage, stderr);
    return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    // Before anything loads a DLL: none may come from this program's folder or the current
    // directory, which may be the install's, and writable by others.
    RestrictDllSearchToSystem();

    bool json = false;
    const wchar_t* program = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (wcscmp(argv[i], L"--json") == 0) {
            json = true;
        } else if (argv[i][0] == L'-' || (argv[i][0] == L'/' && argv[i][1] == L'?')) {
            return Usage(wcscmp(argv[i], L"--help") == 0 || wcscmp(argv[i], L"/?") == 0
                             ? nullptr
                             : "unknown option");
        } else if (program) {
            return Usage("one program path only");
        } else {
            program = argv[i];
        }
    }
    if (!program || !program[0]) return Usage("the program's path is missing");

    if (IsLocalFolder(FullPath(program))) {
        return Usage("PROGRAM names a folder: give the path of add_shortcuts.exe in it");
    }

    UniqueComInitialization com = InitializeComForScope();  // for the shell link
    const Report report = CheckInstall(program);

    Write(json ? JsonReport(report) : TextReport(report));
    return CountOf(report, Severity::kProblem) == 0 ? 0 : 1;
}

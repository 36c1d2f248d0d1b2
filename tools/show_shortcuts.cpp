// show_shortcuts FOLDER: lists every file and folder below FOLDER and, for each shortcut, the
// fields read back from the .lnk through the shell: target, arguments, working directory, icon
// and description. Prints UTF-8 to standard output; the demo runs it under Wine.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "instutil/owners.h"
#include "instutil/shortcut_file.h"

namespace {

void Print(const std::wstring& text) {
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &utf8[0], size, nullptr, nullptr);
    fputs(utf8.c_str(), stdout);
}

void PrintShortcut(const std::wstring& path) {
    ShortcutFields fields;
    if (FAILED(ReadShortcutFile(path.c_str(), &fields))) return;
    Print(L"      target:      " + fields.target + L"\n");
    Print(L"      arguments:   " + fields.arguments + L"\n");
    Print(L"      working dir: " + fields.workingDirectory + L"\n");
    Print(L"      icon:        " + fields.iconFile + L"," + std::to_wstring(fields.iconIndex) +
          L"\n");
    Print(L"      description: " + fields.description + L"\n");
}

void List(const std::wstring& folder, const std::wstring& indent) {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            Print(indent + name + L"\\\n");
            List(folder + L"\\" + name, indent + L"  ");
        } else {
            Print(indent + name + L"\n");
            if (name.size() > 4 && _wcsicmp(name.c_str() + name.size() - 4, L".lnk") == 0) {
                PrintShortcut(folder + L"\\" + name);
            }
        }
    } while (FindNextFileW(find, &data));
    FindClose(find);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        fputs("usage: show_shortcuts FOLDER\n", stderr);
        return 2;
    }
    UniqueComInitialization com = InitializeComForScope();
    Print(std::wstring(argv[1]) + L"\n");
    List(argv[1], L"  ");
    return 0;
}

// show_shortcuts FOLDER: lists every file and folder below FOLDER and, for each shortcut, the
// fields read back from the .lnk through the shell: target, arguments, working directory, icon
// and description. Prints UTF-8 to standard output; the demo runs it under Wine.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <cstdio>
#include <string>

namespace {

void Print(const std::wstring& text) {
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &utf8[0], size, nullptr, nullptr);
    fputs(utf8.c_str(), stdout);
}

void PrintShortcut(const std::wstring& path) {
    IShellLinkW* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&link)))) {
        return;
    }
    IPersistFile* file = nullptr;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) &&
        SUCCEEDED(file->Load(path.c_str(), STGM_READ))) {
        wchar_t text[1024];
        int index = 0;
        text[0] = L'\0';
        link->GetPath(text, 1024, nullptr, SLGP_RAWPATH);
        Print(L"      target:      " + std::wstring(text) + L"\n");
        text[0] = L'\0';
        link->GetArguments(text, 1024);
        Print(L"      arguments:   " + std::wstring(text) + L"\n");
        text[0] = L'\0';
        link->GetWorkingDirectory(text, 1024);
        Print(L"      working dir: " + std::wstring(text) + L"\n");
        text[0] = L'\0';
        link->GetIconLocation(text, 1024, &index);
        Print(L"      icon:        " + std::wstring(text) + L"," + std::to_wstring(index) + L"\n");
        text[0] = L'\0';
        link->GetDescription(text, 1024);
        Print(L"      description: " + std::wstring(text) + L"\n");
    }
    if (file) file->Release();
    link->Release();
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
    CoInitialize(nullptr);
    Print(std::wstring(argv[1]) + L"\n");
    List(argv[1], L"  ");
    CoUninitialize();
    return 0;
}

// Command-line access for the small programs the process tests start.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

// The program's arguments, program name excluded.
inline std::vector<std::wstring> ChildArguments() {
    std::vector<std::wstring> arguments;
    int count = 0;
    wchar_t** list = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!list) return arguments;
    for (int i = 1; i < count; ++i) arguments.emplace_back(list[i]);
    LocalFree(list);
    return arguments;
}

// Creates `path` holding `text` (UTF-16), complete before the name appears: the text goes to a
// side file first, which is then renamed.
inline bool WriteWholeFile(const std::wstring& path, const std::wstring& text) {
    std::wstring side = path + L".part";
    HANDLE file = CreateFileW(side.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    DWORD bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    BOOL ok = WriteFile(file, text.data(), bytes, &written, nullptr) && written == bytes;
    CloseHandle(file);
    return ok && MoveFileExW(side.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
}

// module_path_probe <report file>: writes what the library makes of this program's own path, as
// UTF-16 lines "<name>=<value>": the module path and the install root with their size queries,
// and the release values read through them.
#include <windows.h>
#include <shellapi.h>

#include <string>
#include <utility>

#include "instutil/owners.h"
#include "instutil/paths.h"

namespace {

// A size query and a fill into a buffer of exactly the size asked for.
std::wstring Fetch(DWORD (*get)(wchar_t*, DWORD), std::wstring* size) {
    DWORD needed = get(nullptr, 0);
    *size = std::to_wstring(needed);
    std::wstring value(needed, L'#');
    if (get(&value[0], needed) != 0) return L"(fill failed)";
    return value.c_str();
}

std::wstring Release(int (*getter)(WideBuffer*, DWORD)) {
    WideBuffer value = FetchReleaseValue(getter);
    std::wstring text = value;
    FreeAndClear(&value);
    return text;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    int count = 0;
    // The argument vector is one LocalAlloc block, released on every return.
    UniqueOwner<wchar_t*, &::LocalFree> arguments(CommandLineToArgvW(GetCommandLineW(), &count));
    if (!arguments || count < 2) return 2;

    std::wstring moduleSize, rootSize;
    std::wstring module = Fetch(GetModulePath, &moduleSize);
    std::wstring root = Fetch(GetInstallRoot, &rootSize);
    const std::pair<const wchar_t*, std::wstring> lines[] = {
        {L"module", module},
        {L"moduleSize", moduleSize},
        {L"root", root},
        {L"rootSize", rootSize},
        {L"folder", Release(GetStartMenuFolderName)},
        {L"globalRevision", Release(GetGlobalRevisionTag)},
        {L"localRevision", Release(GetLocalRevisionTag)},
    };
    std::wstring report;
    for (const auto& line : lines) report += std::wstring(line.first) + L"=" + line.second + L"\n";

    HANDLE file = CreateFileW(arguments.get()[1], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 3;
    DWORD written = 0;
    WriteFile(file, report.data(), static_cast<DWORD>(report.size() * sizeof(wchar_t)), &written,
              nullptr);
    CloseHandle(file);
    return 0;
}

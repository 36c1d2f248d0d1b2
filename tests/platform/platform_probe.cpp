// Reports what the release probes see in this process, for tests that run it under different
// Windows version settings. Usage: platform_probe <output file>
// The file receives three UTF-8 lines:
//   flags=<nine digits, one per flag in record order>
//   version=<major>.<minor>.<product type>   (straight from GetVersionExW)
//   servicepack=<text from GetServicePackText>
#include "instutil/platform.h"

#include <shellapi.h>

#include <string>

namespace {

std::string Utf8(const wchar_t* text) {
    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) return {};
    std::string out(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], n, nullptr, nullptr);
    out.resize(n - 1);
    return out;
}

}  // namespace

int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc < 2) return 2;

    WindowsEditionFlags flags;
    ClassifyWindowsVersion(&flags);
    std::string report = "flags=";
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&flags);
    for (size_t i = 0; i < sizeof(flags); ++i) report += static_cast<char>('0' + bytes[i]);

    OSVERSIONINFOEXW info;
    ZeroMemory(&info, sizeof(info));
    info.dwOSVersionInfoSize = sizeof(info);
    GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info));
    report += "\nversion=" + std::to_string(info.dwMajorVersion) + "." +
              std::to_string(info.dwMinorVersion) + "." + std::to_string(info.wProductType);

    WideBuffer servicePack = nullptr;
    GetServicePackText(&servicePack);
    report += "\nservicepack=" + Utf8(servicePack) + "\n";
    FreeAndClear(&servicePack);

    HANDLE file = CreateFileW(argv[1], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    LocalFree(argv);
    if (file == INVALID_HANDLE_VALUE) return 3;
    DWORD written = 0;
    BOOL ok = WriteFile(file, report.data(), static_cast<DWORD>(report.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == report.size() ? 0 : 4;
}

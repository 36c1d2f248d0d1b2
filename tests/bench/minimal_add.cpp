// The benchmark's baseline: writes the same five shortcuts as add_shortcuts with the least work
// the job allows: one read of relinfo.xml, one fetch of the Programs folder, one shell-link
// object. No checks beyond what the job needs.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <string>

namespace {

std::wstring Value(const std::string& text, const char* key) {
    size_t at = text.find(key);
    if (at == std::string::npos) return {};
    size_t open = text.find('"', at);
    if (open == std::string::npos) return {};
    size_t close = text.find('"', open + 1);
    if (close == std::string::npos) return {};
    std::string utf8 = text.substr(open + 1, close - open - 1);
    std::wstring value(utf8.size(), L'\0');
    value.resize(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                                     &value[0], static_cast<int>(value.size())));
    return value;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    wchar_t module[520];
    GetModuleFileNameW(nullptr, module, 520);
    std::wstring root = module;
    for (int i = 0; i < 5; ++i) root.resize(root.rfind(L'\\'));

    std::string text;
    HANDLE file = CreateFileW((root + L"\\commonfiles\\globalsettings\\relinfo.xml").c_str(),
                              GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        text.resize(GetFileSize(file, nullptr));
        DWORD got = 0;
        if (!text.empty()) ReadFile(file, &text[0], static_cast<DWORD>(text.size()), &got, nullptr);
        CloseHandle(file);
    }
    std::wstring folder = Value(text, "startMenuFolderName");
    std::wstring revision = Value(text, "startMenuShortcutAppendRevision");
    std::wstring suffix = revision.empty() ? L".lnk" : L" " + revision + L".lnk";

    wchar_t programs[MAX_PATH + 1];
    SHGetSpecialFolderPathW(nullptr, programs,
                            IsUserAnAdmin() ? CSIDL_COMMON_PROGRAMS : CSIDL_PROGRAMS, FALSE);
    std::wstring top = std::wstring(programs) + L"\\" + folder;
    std::wstring utilities = top + L"\\Utilities";
    CreateDirectoryW(top.c_str(), nullptr);
    CreateDirectoryW(utilities.c_str(), nullptr);

    struct Entry {
        const wchar_t *title, *description, *exe, *arguments;
        bool utility;
    } const entries[] = {
        {L"Vortasim Product Launcher", L"Vortasim Product Launcher", L"vxstart.exe", L"", false},
        {L"Vortasim", L"Start VSL Now", L"vxstart.exe", L"-runxs", false},
        {L"Motion", L"KELDA Motion Utility", L"vxmotion.exe", L"", true},
        {L"Plotview", L"KELDA Plotview Utility", L"vxplot.exe", L"", true},
        {L"KLD_ADMIN", L"KELDA Administration Utility", L"KLD_ADMIN.exe", L"", true},
    };
    CoInitialize(nullptr);
    IShellLinkW* link = nullptr;
    IPersistFile* persist = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                   reinterpret_cast<void**>(&link))) &&
        SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&persist)))) {
        std::wstring icon = root + L"\\commonfiles\\images\\VxHub2_iconSet.ico";
        for (const Entry& entry : entries) {
            link->SetPath((L"\"" + root + L"\\KELDA\\bin\\winx64\\" + entry.exe + L"\"").c_str());
            link->SetArguments(entry.arguments);
            link->SetWorkingDirectory(L"%HOMEDRIVE%%HOMEPATH%");
            link->SetDescription(entry.description);
            link->SetIconLocation(icon.c_str(), 0);
            link->SetShowCmd(SW_SHOWNORMAL);
            std::wstring path = (entry.utility ? utilities : top) + L"\\" + entry.title + suffix;
            persist->Save(path.c_str(), TRUE);
        }
    }
    if (persist) persist->Release();
    if (link) link->Release();
    return 0;
}

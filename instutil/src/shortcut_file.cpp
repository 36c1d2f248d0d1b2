#include "instutil/shortcut_file.h"

#include "instutil/owners.h"
#include "instutil/paths.h"

#include <objbase.h>
#include <shlobj.h>

namespace {

// A shortcut field is read into this many units: the longest path or command line Windows takes.
constexpr DWORD kShortcutFieldChars = 32768;

}  // namespace

HRESULT ReadShortcutFile(const wchar_t* path, ShortcutFields* fields) {
    CoInitialize(nullptr);  // stays initialised for the rest of the process

    IShellLinkW* rawLink = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                  reinterpret_cast<void**>(&rawLink));
    if (FAILED(hr)) return hr;
    UniqueCom<IShellLinkW> link = OwnCom(rawLink);
    IPersistFile* rawFile = nullptr;
    hr = link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&rawFile));
    if (FAILED(hr)) return hr;
    UniqueCom<IPersistFile> file = OwnCom(rawFile);
    hr = file->Load(path, STGM_READ);
    if (FAILED(hr)) return hr;
    fields->loaded = true;

    // Room for the longest text a field can hold; a field the shell cannot give reads as empty.
    WideBufferPtr text(AllocWideBuffer(kShortcutFieldChars));
    auto take = [&text](HRESULT result, std::wstring* field) {
        *field = SUCCEEDED(result) ? text.get() : L"";
        text[0] = L'\0';
    };
    const int capacity = static_cast<int>(kShortcutFieldChars);
    take(link->GetPath(text.get(), capacity, nullptr, SLGP_RAWPATH), &fields->target);
    take(link->GetArguments(text.get(), capacity), &fields->arguments);
    take(link->GetWorkingDirectory(text.get(), capacity), &fields->workingDirectory);
    take(link->GetDescription(text.get(), capacity), &fields->description);
    int index = -1;
    take(link->GetIconLocation(text.get(), capacity, &index), &fields->iconFile);
    fields->iconIndex = index;
    int show = -1;
    if (SUCCEEDED(link->GetShowCmd(&show))) fields->showCommand = show;
    return S_OK;
}

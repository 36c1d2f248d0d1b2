// The programs' images: imports, icon group, manifest and version resource, of this build's
// programs or of the shipped 32-bit ones (INSTKIT_SHIPPED_PROGRAMS).
#include "test_support.h"

#include "resource.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

// The programs the image test checks, and the machine they must be built for: this build's own
// programs, or, with INSTKIT_SHIPPED_PROGRAMS naming a host folder that holds a 32-bit release
// build tree, the shipped PE32 programs of that tree.
struct ImageSet {
    std::wstring addShortcuts;
    std::wstring removeShortcuts;
    std::wstring checkShortcuts;
    WORD machine;
};

ImageSet ImagesToCheck() {
    const std::wstring tree = HostPathFromEnvironment(L"INSTKIT_SHIPPED_PROGRAMS");
    if (tree.empty()) {
#ifdef _WIN64
        const WORD own = IMAGE_FILE_MACHINE_AMD64;
#else
        const WORD own = IMAGE_FILE_MACHINE_I386;
#endif
        return {BuiltProgram(L"add_shortcuts"), BuiltProgram(L"remove_shortcuts"),
                ThisProgramDir() + L"..\\..\\tools\\check_shortcuts.exe", own};
    }
    // Loaded as resources below, the programs need paths shorter than MAX_PATH.
    if (tree.size() >= MAX_PATH) ADD_FAILURE() << "INSTKIT_SHIPPED_PROGRAMS is too long";
    return {tree + L"\\add_shortcuts\\add_shortcuts.exe",
            tree + L"\\remove_shortcuts\\remove_shortcuts.exe",
            tree + L"\\tools\\check_shortcuts.exe", IMAGE_FILE_MACHINE_I386};
}

// The lower-cased names of the DLLs the image imports; checks the machine and the subsystem.
std::set<std::string> ImportedDlls(const std::string& image, WORD machine) {
    std::set<std::string> dlls;
    auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image.data());
    auto nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(image.data() + dos->e_lfanew);
    auto nt64 = reinterpret_cast<const IMAGE_NT_HEADERS64*>(nt);
    EXPECT_EQ(nt->FileHeader.Machine, machine);
    const bool pe32 = machine == IMAGE_FILE_MACHINE_I386;
    EXPECT_EQ(nt->OptionalHeader.Magic,
              pe32 ? IMAGE_NT_OPTIONAL_HDR32_MAGIC : IMAGE_NT_OPTIONAL_HDR64_MAGIC);
    if (nt->FileHeader.Machine != machine) return dlls;
    EXPECT_EQ(pe32 ? nt->OptionalHeader.Subsystem : nt64->OptionalHeader.Subsystem,
              IMAGE_SUBSYSTEM_WINDOWS_GUI);
    auto sections = IMAGE_FIRST_SECTION(nt);
    auto toOffset = [&](DWORD rva) -> DWORD {
        for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i) {
            const IMAGE_SECTION_HEADER& s = sections[i];
            if (rva >= s.VirtualAddress && rva < s.VirtualAddress + s.Misc.VirtualSize) {
                return rva - s.VirtualAddress + s.PointerToRawData;
            }
        }
        return 0;
    };
    DWORD importRva = (pe32 ? nt->OptionalHeader.DataDirectory
                            : nt64->OptionalHeader.DataDirectory)[IMAGE_DIRECTORY_ENTRY_IMPORT]
                          .VirtualAddress;
    auto descriptor =
        reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(image.data() + toOffset(importRva));
    for (; descriptor->Name; ++descriptor) {
        std::string name = image.data() + toOffset(descriptor->Name);
        for (char& c : name) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
        dlls.insert(name);
    }
    return dlls;
}

// The delay-load import slots of `image` (and the module-handle slots of its delay-loaded DLLs)
// that lie in a section that is not writable, as "dll: function in section"; `slots` counts all the
// slots. The GNU linker fills no delay-import directory: the descriptors are found by their symbols
// (__DELAY_IMPORT_DESCRIPTOR_<library>) in the program's link map `map`.
std::vector<std::string> UnwritableDelayLoadSlots(const std::string& image, const std::string& map,
                                                  int* slots) {
    std::vector<std::string> found;
    *slots = 0;
    if (image.size() < sizeof(IMAGE_DOS_HEADER)) return {"not an image"};
    auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image.data());
    auto nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(image.data() + dos->e_lfanew);
    const bool pe32 = nt->OptionalHeader.Magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC;
    const ULONGLONG base =
        pe32 ? nt->OptionalHeader.ImageBase
             : reinterpret_cast<const IMAGE_NT_HEADERS64*>(nt)->OptionalHeader.ImageBase;
    auto sections = IMAGE_FIRST_SECTION(nt);
    auto sectionOf = [&](ULONGLONG rva) -> const IMAGE_SECTION_HEADER* {
        for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i) {
            if (rva >= sections[i].VirtualAddress &&
                rva < sections[i].VirtualAddress + sections[i].Misc.VirtualSize) {
                return &sections[i];
            }
        }
        return nullptr;
    };
    // The image's bytes at `rva`, when `size` of them are stored there.
    auto at = [&](ULONGLONG rva, size_t size) -> const char* {
        const IMAGE_SECTION_HEADER* s = sectionOf(rva);
        if (!s || rva + size > s->VirtualAddress + s->SizeOfRawData) return nullptr;
        const ULONGLONG offset = rva - s->VirtualAddress + s->PointerToRawData;
        return offset + size <= image.size() ? image.data() + offset : nullptr;
    };
    auto text = [&](ULONGLONG rva) {
        const char* start = at(rva, 1);
        if (!start) return std::string("?");
        const IMAGE_SECTION_HEADER* s = sectionOf(rva);
        const size_t room = std::min<size_t>(s->VirtualAddress + s->SizeOfRawData - rva,
                                             image.data() + image.size() - start);
        return std::string(start, strnlen(start, room));
    };
    const size_t pointer = pe32 ? 4 : 8;
    std::istringstream lines(map);
    for (std::string line; std::getline(lines, line);) {
        if (line.find("DELAY_IMPORT_DESCRIPTOR_") == std::string::npos) continue;
        const ULONGLONG descriptor = std::strtoull(line.c_str(), nullptr, 16) - base;
        const char* fields = at(descriptor, 5 * sizeof(DWORD));
        if (!fields) {
            found.push_back("unreadable descriptor: " + line);
            continue;
        }
        DWORD field[5];
        memcpy(field, fields, sizeof(field));  // attributes, DLL name, module, slots, names
        const std::string dll = text(field[1]);
        std::vector<std::pair<std::string, ULONGLONG>> places = {{"module handle", field[2]}};
        for (ULONGLONG i = 0;; ++i) {
            const char* entry = at(field[4] + i * pointer, pointer);
            if (!entry) break;
            ULONGLONG name = 0;
            memcpy(&name, entry, pointer);
            if (name == 0) break;
            const bool ordinal = name >> (8 * pointer - 1);
            places.push_back({ordinal ? "(ordinal)" : text(name + 2), field[3] + i * pointer});
        }
        for (const auto& place : places) {
            ++*slots;
            const IMAGE_SECTION_HEADER* s = sectionOf(place.second);
            if (s && (s->Characteristics & IMAGE_SCN_MEM_WRITE)) continue;
            found.push_back(dll + ": " + place.first + " in " +
                            (s ? std::string(reinterpret_cast<const char*>(s->Name),
                                             strnlen(reinterpret_cast<const char*>(s->Name), 8))
                               : std::string("no section")));
        }
    }
    return found;
}

}  // namespace

TEST(ProgramImage, DelayLoadSlotsAreWritable) {
    // The delay-load helper writes a function's slot on the first call into it: a slot in a
    // section that is not writable stops the program there (binutils 2.44 makes .idata
    // read-only, where dlltool puts the slots; cmake/DelayLoad.cmake moves them).
    const ImageSet images = ImagesToCheck();
    for (const std::wstring& path : {images.addShortcuts, images.removeShortcuts}) {
        SCOPED_TRACE(Narrow(path));
        int slots = 0;
        const std::wstring map = path.substr(0, path.size() - 4) + L".map";
        EXPECT_EQ(UnwritableDelayLoadSlots(ReadBytes(path), ReadBytes(map), &slots),
                  std::vector<std::string>{});
        EXPECT_GT(slots, 5);
    }
}

TEST(ProgramImage, ImportsOnlySystemDllsAndCarriesIconAndManifest) {
    // Only what the loader needs to start the programs is imported in the ordinary way; the other
    // system DLLs they use are delay-loaded once the DLL search is restricted (a function missing
    // from instutil/delayload/*.def would bring its DLL in here).
    const std::set<std::string> system = {"kernel32.dll", "msvcrt.dll"};
    const ImageSet images = ImagesToCheck();
    for (const std::wstring& path : {images.addShortcuts, images.removeShortcuts}) {
        SCOPED_TRACE(Narrow(path));
        std::string image = ReadBytes(path);
        ASSERT_GT(image.size(), 1024u);
        std::set<std::string> dlls = ImportedDlls(image, images.machine);
        EXPECT_FALSE(dlls.empty());
        for (const std::string& dll : dlls) EXPECT_EQ(system.count(dll), 1u) << dll;

        HMODULE module = LoadLibraryExW(path.c_str(), nullptr,
                                        LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE(module, nullptr);
        HRSRC group = FindResourceW(module, MAKEINTRESOURCEW(IDI_MYICON), RT_GROUP_ICON);
        ASSERT_NE(group, nullptr);
        auto dir = static_cast<const BYTE*>(LockResource(LoadResource(module, group)));
        // GRPICONDIR: reserved, type, count; then 14-byte entries of width, height, colours,
        // reserved, planes, bit count, size and id.
        WORD count = *reinterpret_cast<const WORD*>(dir + 4);
        std::multiset<std::pair<int, int>> images;
        for (WORD i = 0; i < count; ++i) {
            const BYTE* entry = dir + 6 + 14 * i;
            int width = entry[0] ? entry[0] : 256;
            images.insert({width, *reinterpret_cast<const WORD*>(entry + 6)});
            EXPECT_EQ(entry[0], entry[1]);
        }
        EXPECT_EQ(images, (std::multiset<std::pair<int, int>>{{16, 4},
                                                              {32, 4},
                                                              {16, 8},
                                                              {32, 8},
                                                              {48, 8},
                                                              {16, 32},
                                                              {32, 32},
                                                              {48, 32},
                                                              {64, 32},
                                                              {256, 32}}));

        HRSRC manifestResource = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
        ASSERT_NE(manifestResource, nullptr);
        std::string manifest(
            static_cast<const char*>(LockResource(LoadResource(module, manifestResource))),
            SizeofResource(module, manifestResource));
        EXPECT_NE(manifest.find("level=\"highestAvailable\""), std::string::npos);
        EXPECT_NE(manifest.find("uiAccess=\"false\""), std::string::npos);
        EXPECT_NE(manifest.find("{e2011457-1546-43c5-a5fe-008deee3d3f0}"), std::string::npos);
        EXPECT_NE(manifest.find("{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"), std::string::npos);
        FreeLibrary(module);
    }
}

TEST(ProgramImage, CarriesAVersionResource) {
    // Read back by the system's version API; the version is the project's, in four parts.
    const std::wstring version = Widen(INSTKIT_VERSION_TEXT);
    unsigned part[4] = {};
    ASSERT_EQ(swscanf(version.c_str(), L"%u.%u.%u.%u", &part[0], &part[1], &part[2], &part[3]), 4);
    const ImageSet images = ImagesToCheck();
    const struct {
        std::wstring path;
        const wchar_t* file;
        const wchar_t* description;
    } programs[] = {
        {images.addShortcuts, L"add_shortcuts.exe", L"Creates the suite's Start-menu shortcuts"},
        {images.removeShortcuts, L"remove_shortcuts.exe",
         L"Removes the suite's Start-menu shortcuts"},
        {images.checkShortcuts, L"check_shortcuts.exe",
         L"Explains what the shortcut programs make of an install"}};
    for (const auto& program : programs) {
        SCOPED_TRACE(Narrow(program.path));
        DWORD size = GetFileVersionInfoSizeW(program.path.c_str(), nullptr);
        ASSERT_GT(size, 0u);
        std::vector<BYTE> info(size);
        ASSERT_TRUE(GetFileVersionInfoW(program.path.c_str(), 0, size, info.data()));
        auto query = [&](const std::wstring& item) -> void* {
            void* value = nullptr;
            UINT length = 0;
            return VerQueryValueW(info.data(), item.c_str(), &value, &length) && length ? value
                                                                                        : nullptr;
        };
        auto fixed = static_cast<const VS_FIXEDFILEINFO*>(query(L"\\"));
        ASSERT_NE(fixed, nullptr);
        EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
        EXPECT_EQ(fixed->dwFileVersionMS, static_cast<DWORD>(MAKELONG(part[1], part[0])));
        EXPECT_EQ(fixed->dwFileVersionLS, static_cast<DWORD>(MAKELONG(part[3], part[2])));
        EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
        EXPECT_EQ(fixed->dwProductVersionLS, fixed->dwFileVersionLS);
        EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));

        auto translation = static_cast<const WORD*>(query(L"\\VarFileInfo\\Translation"));
        ASSERT_NE(translation, nullptr);
        EXPECT_EQ(translation[0], 0x0409);
        EXPECT_EQ(translation[1], 1200);
        auto text = [&](const wchar_t* name) {
            auto value = static_cast<const wchar_t*>(
                query(std::wstring(L"\\StringFileInfo\\040904B0\\") + name));
            return std::wstring(value ? value : L"(missing)");
        };
        EXPECT_EQ(text(L"FileVersion"), version);
        EXPECT_EQ(text(L"ProductVersion"), version);
        EXPECT_EQ(text(L"OriginalFilename"), program.file);
        EXPECT_EQ(text(L"FileDescription"), program.description);
        EXPECT_EQ(text(L"ProductName"), L"instkit");
        EXPECT_EQ(text(L"LegalCopyright"), L"Copyright (c) 2026 the instkit authors");
    }
}

// End-to-end runs of the built programs on staged install trees.
#include "test_support.h"

#include "resource.h"

#include <cwchar>
#include <ostream>
#include <set>

namespace {

constexpr char kRelinfo[] =
    "<?xml version=\"1.0\"?>\n<release>\n"
    "  <startMenuFolderName>\"Vortasim 18\"</startMenuFolderName>\n"
    "  <startMenuShortcutAppendRevision>\"18.1\"</startMenuShortcutAppendRevision>\n"
    "</release>\n";

std::string Relinfo(const std::string& folder, const std::string& revision) {
    return "<r startMenuFolderName=\"" + folder + "\" startMenuShortcutAppendRevision=\"" +
           revision + "\"/>";
}

struct Expected {
    const wchar_t* file;
    const wchar_t* executable;
    const wchar_t* arguments;
    const wchar_t* description;
};

const Expected kShortcuts[] = {
    {L"Vortasim Product Launcher 18.1.lnk", L"vxstart.exe", L"", L"Vortasim Product Launcher"},
    {L"Vortasim 18.1.lnk", L"vxstart.exe", L"-runxs", L"Start VSL Now"},
    {L"Utilities\\Motion 18.1.lnk", L"vxmotion.exe", L"", L"KELDA Motion Utility"},
    {L"Utilities\\Plotview 18.1.lnk", L"vxplot.exe", L"", L"KELDA Plotview Utility"},
    {L"Utilities\\KLD_ADMIN 18.1.lnk", L"KLD_ADMIN.exe", L"", L"KELDA Administration Utility"},
};

}  // namespace

TEST_F(InstallTreeTest, AddShortcutsWritesTheFiveShortcuts) {
    Stage(kRelinfo);
    EXPECT_EQ(Run(L"add_shortcuts"), 0u);

    std::wstring suite = commonPrograms_ + L"\\Vortasim 18\\";
    std::vector<std::wstring> expectedTree = {L"Vortasim 18\\", L"Vortasim 18\\Utilities\\"};
    for (const Expected& shortcut : kShortcuts) {
        expectedTree.push_back(std::wstring(L"Vortasim 18\\") + shortcut.file);
        ShortcutFields fields = ReadShortcut(suite + shortcut.file);
        ASSERT_TRUE(fields.loaded) << Narrow(shortcut.file);
        EXPECT_EQ(fields.target, root_ + L"\\KELDA\\bin\\winx64\\" + shortcut.executable);
        EXPECT_EQ(fields.arguments, shortcut.arguments);
        EXPECT_EQ(fields.description, shortcut.description);
        EXPECT_EQ(fields.workingDirectory, L"%HOMEDRIVE%%HOMEPATH%");
        EXPECT_EQ(fields.iconFile, root_ + L"\\commonfiles\\images\\VxHub2_iconSet.ico");
        EXPECT_EQ(fields.iconIndex, 0);
        EXPECT_EQ(fields.showCommand, SW_SHOWNORMAL);
    }
    std::sort(expectedTree.begin(), expectedTree.end());
    EXPECT_EQ(ListTree(commonPrograms_), expectedTree);
    EXPECT_TRUE(ListTree(userPrograms_).empty());

    // Arguments change nothing, and a second run saves the same files again.
    EXPECT_EQ(Run(L"add_shortcuts", L" /uninstall --quiet \"x y\""), 0u);
    EXPECT_EQ(ListTree(commonPrograms_), expectedTree);
}

TEST_F(InstallTreeTest, WithoutAFolderNameTheShortcutsGoToTheTopOfPrograms) {
    Stage("<r startMenuShortcutAppendRevision=\"r2\"/>");
    EXPECT_EQ(Run(L"add_shortcuts"), 0u);
    EXPECT_EQ(ListTree(commonPrograms_),
              (std::vector<std::wstring>{L"Utilities\\", L"Utilities\\KLD_ADMIN r2.lnk",
                                         L"Utilities\\Motion r2.lnk", L"Utilities\\Plotview r2.lnk",
                                         L"Vortasim Product Launcher r2.lnk", L"Vortasim r2.lnk"}));
}

TEST_F(InstallTreeTest, WithoutARevisionTheNamesEndInTheTitle) {
    Stage("<r startMenuFolderName=\"S\"/>");
    EXPECT_EQ(Run(L"add_shortcuts"), 0u);
    EXPECT_TRUE(FileExists(commonPrograms_ + L"\\S\\Vortasim Product Launcher.lnk"));
    EXPECT_TRUE(FileExists(commonPrograms_ + L"\\S\\Utilities\\KLD_ADMIN.lnk"));
}

TEST_F(InstallTreeTest, AMissingReleaseFileStaysMissing) {
    Stage("");
    std::wstring relinfo = root_ + L"\\commonfiles\\globalsettings\\relinfo.xml";
    DeleteFileW(relinfo.c_str());
    EXPECT_EQ(Run(L"add_shortcuts"), 0u);
    EXPECT_FALSE(FileExists(relinfo));
    EXPECT_TRUE(FileExists(commonPrograms_ + L"\\Vortasim.lnk"));
}

TEST_F(InstallTreeTest, NonAdministratorsGetTheirOwnProgramsFolder) {
    Stage(kRelinfo);
    HANDLE token = MakeNonAdminToken();
    ASSERT_NE(token, nullptr);
    EXPECT_EQ(Run(L"add_shortcuts", L"", token), 0u);
    CloseHandle(token);
    EXPECT_TRUE(ListTree(commonPrograms_).empty());
    EXPECT_EQ(ListTree(userPrograms_).size(), 7u);
    EXPECT_TRUE(FileExists(userPrograms_ + L"\\Vortasim 18\\Utilities\\Plotview 18.1.lnk"));
}

TEST_F(InstallTreeTest, HostileReleaseValuesWriteNothing) {
    const std::string hostile[] = {Relinfo("..\\..\\Startup", "18.1"),
                                   Relinfo("C:\\x", "18.1"),
                                   Relinfo("a:b", "18.1"),
                                   Relinfo("Suite", "1\\..\\..\\x"),
                                   Relinfo("\\\\srv\\share", "1"),
                                   Relinfo("..", ""),
                                   Relinfo("Suite", "a/b"),
                                   Relinfo("S\x01", "1")};
    for (const std::string& relinfo : hostile) {
        Stage(relinfo);
        std::vector<std::wstring> before = ListTree(scratch_);
        EXPECT_EQ(Run(L"add_shortcuts"), 0u) << relinfo;
        EXPECT_EQ(ListTree(scratch_), before) << relinfo;
        EXPECT_FALSE(DirExists(L"C:\\x")) << relinfo;
        RemoveTree(root_);
    }
}

TEST_F(InstallTreeTest, ASystemDllThatCannotBeLoadedEndsTheProgramsQuietly) {
    // oleaut32 disabled for one program (Wine's per-program DLL overrides): add_shortcuts first
    // needs it to save a shortcut, once the suite's folder is made; remove_shortcuts to examine a
    // folder, once the shortcuts are deleted.
    auto runWithoutOleaut32 = [&](const wchar_t* program) {
        std::wstring key =
            std::wstring(L"Software\\Wine\\AppDefaults\\") + program + L".exe\\DllOverrides";
        WriteRegExpandString(HKEY_CURRENT_USER, key.c_str(), L"oleaut32", L"");
        DWORD code = Run(program);
        DeleteRegValue(HKEY_CURRENT_USER, key.c_str(), L"oleaut32");
        return code;
    };
    Stage(kRelinfo);

    EXPECT_EQ(runWithoutOleaut32(L"add_shortcuts"), 0u);
    EXPECT_EQ(ListTree(commonPrograms_), std::vector<std::wstring>{L"Vortasim 18\\"});

    EXPECT_EQ(Run(L"add_shortcuts"), 0u);
    ASSERT_EQ(ListTree(commonPrograms_).size(), 7u);
    EXPECT_EQ(runWithoutOleaut32(L"remove_shortcuts"), 0u);
    EXPECT_EQ(ListTree(commonPrograms_),
              (std::vector<std::wstring>{L"Vortasim 18\\", L"Vortasim 18\\Utilities\\"}));
}

TEST(ProgramRuntime, AnUncaughtExceptionEndsTheProgramSilently) {
    // The programs' own handler ends the process at once, with abort's code, and shows nothing.
    EXPECT_EQ(RunProgram(L"\"" + ThisProgramDir() + L"uncaught_probe.exe\"", nullptr, 20000), 3u);
}

// The shipped programs import only Windows system DLLs and carry the icon group and manifest.
namespace {

// The programs the image test checks, and the machine they must be built for: this build's own
// programs, or, with INSTKIT_SHIPPED_PROGRAMS naming a host folder that holds a 32-bit release
// build tree, the shipped PE32 programs of that tree.
struct ImageSet {
    std::wstring addShortcuts;
    std::wstring removeShortcuts;
    WORD machine;
};

ImageSet ImagesToCheck() {
    std::wstring shipped(GetEnvironmentVariableW(L"INSTKIT_SHIPPED_PROGRAMS", nullptr, 0), L'\0');
    if (!shipped.empty()) {
        shipped.resize(GetEnvironmentVariableW(L"INSTKIT_SHIPPED_PROGRAMS", &shipped[0],
                                               static_cast<DWORD>(shipped.size())));
        // Loaded as resources below, the programs need paths shorter than MAX_PATH.
        if (shipped.size() >= MAX_PATH) ADD_FAILURE() << "INSTKIT_SHIPPED_PROGRAMS is too long";
    }
    if (shipped.empty()) {
#ifdef _WIN64
        const WORD own = IMAGE_FILE_MACHINE_AMD64;
#else
        const WORD own = IMAGE_FILE_MACHINE_I386;
#endif
        return {BuiltProgram(L"add_shortcuts"), BuiltProgram(L"remove_shortcuts"), own};
    }
    // Wine's drive Z: is the host's root.
    std::wstring tree = shipped;
    if (tree[0] == L'/') tree = L"Z:" + tree;
    for (wchar_t& c : tree) c = c == L'/' ? L'\\' : c;
    return {tree + L"\\add_shortcuts\\add_shortcuts.exe",
            tree + L"\\remove_shortcuts\\remove_shortcuts.exe", IMAGE_FILE_MACHINE_I386};
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

}  // namespace

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
         L"Removes the suite's Start-menu shortcuts"}};
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
    }
}

// Round trips: add_shortcuts then remove_shortcuts leave the Start menu as it was.
namespace {

constexpr const char* kTitles[] = {"Vortasim Product Launcher", "Vortasim", "Motion", "Plotview",
                                   "Plotview Site Information", "KLD_ADMIN"};

struct RoundTrip {
    const char* name;
    std::string relinfo;
    size_t added;  // files and folders that add_shortcuts writes
};

// Test output names a case by its name alone.
void PrintTo(const RoundTrip& roundTrip, std::ostream* out) {
    *out << roundTrip.name;
}

class RoundTripTest : public InstallTreeTest, public ::testing::WithParamInterface<RoundTrip> {};

}  // namespace

TEST_P(RoundTripTest, InstallThenRemovalLeavesEverythingAsItWas) {
    Stage(GetParam().relinfo);
    // Something of the user's own beside the suite must survive.
    MakeDirs(commonPrograms_ + L"\\Other Suite");
    WriteBytes(commonPrograms_ + L"\\Other Suite\\Other.lnk", "x");
    std::vector<std::wstring> before = ListTree(scratch_);

    EXPECT_EQ(Run(L"add_shortcuts"), 0u);
    EXPECT_EQ(ListTree(scratch_).size(), before.size() + GetParam().added);
    EXPECT_EQ(Run(L"remove_shortcuts"), 0u);
    EXPECT_EQ(ListTree(scratch_), before);

    // Twice in a row, each way.
    EXPECT_EQ(Run(L"add_shortcuts"), 0u);
    EXPECT_EQ(Run(L"add_shortcuts"), 0u);
    EXPECT_EQ(Run(L"remove_shortcuts"), 0u);
    EXPECT_EQ(Run(L"remove_shortcuts"), 0u);
    EXPECT_EQ(ListTree(scratch_), before);
}

INSTANTIATE_TEST_SUITE_P(
    ReleaseFiles, RoundTripTest,
    ::testing::Values(RoundTrip{"WithRevision", kRelinfo, 7},
                      RoundTrip{"WithoutRevision", Relinfo("Vortasim 18", ""), 7},
                      // "Vortasim Ü 18" with the revision "18.1-ß", in UTF-8.
                      RoundTrip{"NonAscii", Relinfo("Vortasim \xC3\x9C 18", "18.1-\xC3\x9F"), 7},
                      // No folder name: the top of the Programs folder and its Utilities.
                      RoundTrip{"NoFolderName", "<r startMenuShortcutAppendRevision=\"18.1\"/>", 6},
                      RoundTrip{"NoReleaseValues", "", 6}),
    [](const ::testing::TestParamInfo<RoundTrip>& info) { return info.param.name; });

TEST_F(InstallTreeTest, FilesOfTheUsersKeepTheirFolders) {
    Stage(kRelinfo);
    std::wstring suite = commonPrograms_ + L"\\Vortasim 18";

    // A shortcut the user added keeps the suite's folder; Utilities still goes.
    EXPECT_EQ(Run(L"add_shortcuts"), 0u);
    WriteBytes(suite + L"\\Mine.lnk", "x");
    EXPECT_EQ(Run(L"remove_shortcuts"), 0u);
    EXPECT_EQ(ListTree(commonPrograms_),
              (std::vector<std::wstring>{L"Vortasim 18\\", L"Vortasim 18\\Mine.lnk"}));
    DeleteFileW((suite + L"\\Mine.lnk").c_str());

    // A file left in Utilities keeps Utilities and the suite's folder.
    EXPECT_EQ(Run(L"add_shortcuts"), 0u);
    WriteBytes(suite + L"\\Utilities\\notes.txt", "x");
    EXPECT_EQ(Run(L"remove_shortcuts"), 0u);
    EXPECT_EQ(ListTree(commonPrograms_),
              (std::vector<std::wstring>{L"Vortasim 18\\", L"Vortasim 18\\Utilities\\",
                                         L"Vortasim 18\\Utilities\\notes.txt"}));
    DeleteFileW((suite + L"\\Utilities\\notes.txt").c_str());

    // The site-information shortcut under the current revision goes too.
    EXPECT_EQ(Run(L"add_shortcuts"), 0u);
    WriteBytes(suite + L"\\Utilities\\Plotview Site Information 18.1.lnk", "x");
    EXPECT_EQ(Run(L"remove_shortcuts"), 0u);
    EXPECT_TRUE(ListTree(commonPrograms_).empty());
}

TEST_F(InstallTreeTest, RemovalKeepsToTheProgramsFolderOfTheUsersRights) {
    Stage(kRelinfo);
    HANDLE token = MakeNonAdminToken();
    ASSERT_NE(token, nullptr);
    EXPECT_EQ(Run(L"add_shortcuts", L"", token), 0u);
    ASSERT_EQ(ListTree(userPrograms_).size(), 7u);

    // An administrator's removal looks in the all-users folder only.
    EXPECT_EQ(Run(L"remove_shortcuts"), 0u);
    EXPECT_EQ(ListTree(userPrograms_).size(), 7u);

    EXPECT_EQ(Run(L"remove_shortcuts", L"", token), 0u);
    CloseHandle(token);
    EXPECT_TRUE(ListTree(userPrograms_).empty());
    EXPECT_TRUE(ListTree(commonPrograms_).empty());
}

TEST_F(InstallTreeTest, HostileReleaseValuesDeleteNothing) {
    // Decoys wherever a naively composed path would lead.
    std::wstring outside = L"C:\\instkit-decoy-" + std::to_wstring(GetCurrentProcessId());
    MakeDirs(outside + L"\\Utilities");
    const std::string hostile[] = {Relinfo("..\\..\\Startup", "18.1"),
                                   Relinfo("..\\..\\Startup", ""),
                                   Relinfo(Narrow(outside), "18.1"),
                                   Relinfo("a:b", "18.1"),
                                   Relinfo("Suite", "1\\..\\..\\..\\Startup\\x"),
                                   Relinfo("..", "")};
    for (const std::string& relinfo : hostile) {
        SCOPED_TRACE(relinfo);
        Stage(relinfo);
        std::wstring folder = Widen(relinfo.substr(23, relinfo.find('"', 23) - 23));
        for (const char* title : kTitles) {
            for (const wchar_t* tail : {L"\\", L"\\Utilities\\"}) {
                std::wstring naive =
                    commonPrograms_ + L"\\" + folder + tail + Widen(title) + L" 18.1.lnk";
                wchar_t full[MAX_PATH * 2];
                if (!GetFullPathNameW(naive.c_str(), MAX_PATH * 2, full, nullptr)) continue;
                std::wstring decoy = full;
                MakeDirs(decoy.substr(0, decoy.rfind(L'\\')));
                WriteBytes(decoy, "decoy");
                std::wstring bare = decoy.substr(0, decoy.size() - 9) + L".lnk";
                WriteBytes(bare, "decoy");
            }
        }
        MakeDirs(scratch_ + L"\\Common\\Startup\\Utilities");
        std::vector<std::wstring> before = ListTree(scratch_);
        std::vector<std::wstring> outsideBefore = ListTree(outside);
        EXPECT_EQ(Run(L"remove_shortcuts"), 0u);
        EXPECT_EQ(ListTree(scratch_), before);
        EXPECT_EQ(ListTree(outside), outsideBefore);
        EXPECT_TRUE(DirExists(outside + L"\\Utilities"));
        RemoveTree(root_);
    }
    RemoveTree(outside);
}

TEST_F(InstallTreeTest, EveryRunExitsWithZero) {
    Stage(kRelinfo);
    for (const wchar_t* arguments :
         {L"", L" /?", L" --help", L" -x \"a b\" c", L" \"unterminated"}) {
        EXPECT_EQ(Run(L"add_shortcuts", arguments), 0u);
        EXPECT_EQ(Run(L"remove_shortcuts", arguments), 0u);
        EXPECT_EQ(Run(L"remove_shortcuts", arguments), 0u);
    }
    EXPECT_TRUE(ListTree(commonPrograms_).empty());
}

// Planted DLLs: markers (tests/marker_dll.c) that record their load.
namespace {

// Every DLL that the programs' processes load under Wine (WINEDEBUG=+loaddll lists them), and
// some that system DLLs load later on Windows.
constexpr const wchar_t* kLoadedDlls[] = {
    L"ntdll",    L"kernelbase", L"kernel32", L"msvcrt",  L"ucrtbase", L"sechost",
    L"advapi32", L"zlib1",      L"version",  L"win32u",  L"user32",   L"gdi32",
    L"shcore",   L"shlwapi",    L"imm32",    L"shell32", L"rpcrt4",   L"combase",
    L"ole32",    L"uxtheme",    L"oleaut32", L"propsys", L"profapi",  L"cryptbase"};

}  // namespace

TEST_F(InstallTreeTest, NoDllIsTakenFromTheProgramsFolderOrTheCurrentDirectory) {
    Stage(kRelinfo);
    std::wstring current = scratch_ + L"\\current";
    MakeDirs(current);
    // Markers that record their load, under each name, beside the programs and in the directory
    // they run in.
    std::wstring marker = ThisProgramDir() + L"instkit_marker.dll";
    for (const std::wstring& folder : {bin_, current}) {
        for (const wchar_t* name : kLoadedDlls) {
            ASSERT_TRUE(
                CopyFileW(marker.c_str(), (folder + L"\\" + name + L".dll").c_str(), FALSE));
        }
    }
    // A marker that is loaded says so.
    std::wstring check = scratch_ + L"\\zqcheck.dll";
    ASSERT_TRUE(CopyFileW(marker.c_str(), check.c_str(), FALSE));
    HMODULE checked = LoadLibraryW(check.c_str());
    ASSERT_NE(checked, nullptr);
    FreeLibrary(checked);
    EXPECT_TRUE(FileExists(check + L".loaded"));

    // The programs still do their work.
    auto run = [&](const wchar_t* program) {
        return RunProgram(L"\"" + bin_ + L"\\" + program + L".exe\"", nullptr, 60000,
                          current.c_str());
    };
    EXPECT_EQ(run(L"add_shortcuts"), 0u);
    EXPECT_EQ(ListTree(commonPrograms_).size(), 7u);
    EXPECT_EQ(run(L"remove_shortcuts"), 0u);
    EXPECT_TRUE(ListTree(commonPrograms_).empty());

    for (const std::wstring& folder : {bin_, current}) {
        for (const std::wstring& entry : ListTree(folder)) {
            EXPECT_EQ(entry.find(L".loaded"), std::wstring::npos) << Narrow(folder + L"\\" + entry);
        }
    }
}

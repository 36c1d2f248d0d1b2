// Release classification: the real probe in a program run under each Windows version Wine can
// report, and the decision on reports Wine cannot produce.
#include "instutil/platform.h"

#include "test_support.h"

#include <cstring>
#include <map>
#include <ostream>
#include <string>

namespace {

constexpr int kNoFlag = -1;
constexpr wchar_t kAppDefaults[] = L"Software\\Wine\\AppDefaults\\platform_probe.exe";
constexpr wchar_t kMicrosoftKey[] = L"SOFTWARE\\Microsoft";

// "flags=..." as the probe program writes it: nine digits, `flag` set or none.
std::string FlagDigits(int flag) {
    std::string digits(9, '0');
    if (flag != kNoFlag) digits[flag] = '1';
    return digits;
}

std::string Digits(const WindowsEditionFlags& flags) {
    std::string digits;
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&flags);
    for (size_t i = 0; i < sizeof(flags); ++i) digits += static_cast<char>('0' + bytes[i]);
    return digits;
}

// Wine 8.0 (Debian 12) and 10.0 (Debian 13) hand the product type of Windows 7 to its 2008 R2
// setting and the other way round.
bool WineSwapsWin7AndServer2008R2() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    FARPROC found = ntdll ? GetProcAddress(ntdll, "wine_get_version") : nullptr;
    if (!found) return false;
    auto version = reinterpret_cast<const char* (*)()>(reinterpret_cast<void (*)()>(found));
    return std::strncmp(version(), "8.0", 3) == 0 || std::strncmp(version(), "10.0", 4) == 0;
}

void DeleteKey(HKEY root, const wchar_t* path) {
    RegDeleteTreeW(root, path);
    RegDeleteKeyW(root, path);
}

// Runs platform_probe.exe with Wine's per-program Version setting; removes the setting again.
class ProbeProgramTest : public ::testing::Test {
protected:
    void SetUp() override { scratch_ = MakeScratchDir(L"platform"); }
    void TearDown() override {
        DeleteKey(HKEY_CURRENT_USER, kAppDefaults);
        if (!hpcKey_.empty())
            RegDeleteKeyExW(HKEY_LOCAL_MACHINE, hpcKey_.c_str(), KEY_WOW64_64KEY, 0);
        RemoveTree(scratch_);
    }

    // The report's lines, by name ("flags", "version", "servicepack").
    std::map<std::string, std::string> Run(const std::wstring& setting) {
        WriteRegExpandString(HKEY_CURRENT_USER, kAppDefaults, L"Version", setting);
        const std::wstring out = scratch_ + L"\\report.txt";
        DeleteFileW(out.c_str());
        EXPECT_EQ(RunProgram(L"\"" + ThisProgramDir() + L"platform_probe.exe\" \"" + out + L"\""),
                  0u);
        DeleteKey(HKEY_CURRENT_USER, kAppDefaults);
        std::map<std::string, std::string> lines;
        std::string text = ReadBytes(out);
        for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos;
             start = end + 1) {
            std::string line = text.substr(start, end - start);
            size_t equals = line.find('=');
            if (equals != std::string::npos)
                lines[line.substr(0, equals)] = line.substr(equals + 1);
        }
        return lines;
    }

    // Creates HKLM\SOFTWARE\Microsoft\<name>, removed after the test, in the 64-bit view, where a
    // cluster pack registers on 64-bit Windows (the only view elsewhere).
    void MakeHpcKey(const std::wstring& name) {
        hpcKey_ = std::wstring(kMicrosoftKey) + L"\\" + name;
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, hpcKey_.c_str(), 0, nullptr, 0,
                                  KEY_READ | KEY_WOW64_64KEY, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }

    std::wstring scratch_;
    std::wstring hpcKey_;
};

struct Release {
    const wchar_t* setting;  // Wine's name for it
    const char* report;      // major.minor.product type that Wine gives a manifest-less program
    int flag;                // byte of WindowsEditionFlags, or kNoFlag
};

// Every release Wine 8 can report to a program.
const Release kReleases[] = {
    {L"win20", "2.0.0", kNoFlag},  {L"win30", "3.0.0", kNoFlag},  {L"win31", "3.10.0", kNoFlag},
    {L"win95", "4.0.0", kNoFlag},  {L"win98", "4.10.0", kNoFlag}, {L"winme", "4.90.0", kNoFlag},
    {L"nt351", "3.51.1", kNoFlag}, {L"nt40", "4.0.1", kNoFlag},   {L"win2k", "5.0.1", 0},
    {L"winxp", "5.1.1", 1},        {L"winxp64", "5.2.1", 1},      {L"win2003", "5.2.3", 2},
    {L"vista", "6.0.1", 3},        {L"win2008", "6.0.3", 4},      {L"win2008r2", "6.1.3", 5},
    {L"win7", "6.1.1", 7},         {L"win8", "6.2.1", 8},         {L"win81", "6.2.1", 8},
    {L"win10", "6.2.1", 8},
};

void PrintTo(const Release& release, std::ostream* out) {
    *out << Narrow(release.setting);
}

// The Wine setting that makes the given release's report.
std::wstring SettingFor(const std::wstring& release) {
    if (!WineSwapsWin7AndServer2008R2()) return release;
    if (release == L"win7") return L"win2008r2";
    if (release == L"win2008r2") return L"win7";
    return release;
}

class ReleaseTableTest : public ProbeProgramTest, public ::testing::WithParamInterface<Release> {};

TEST_P(ReleaseTableTest, SetsExactlyTheReleasesFlag) {
    const Release& release = GetParam();
    auto report = Run(SettingFor(release.setting));
    ASSERT_EQ(report["version"], release.report) << "Wine did not report the release asked for";
    EXPECT_EQ(report["flags"], FlagDigits(release.flag));
}

INSTANTIATE_TEST_SUITE_P(Wine, ReleaseTableTest, ::testing::ValuesIn(kReleases),
                         [](const ::testing::TestParamInfo<Release>& info) {
                             return Narrow(info.param.setting);
                         });

TEST_F(ProbeProgramTest, HpcSubkeyTurnsServersIntoHpcServerOnly) {
    MakeHpcKey(L"HPC Pack");
    EXPECT_EQ(Run(SettingFor(L"win2008"))["flags"], FlagDigits(6));
    EXPECT_EQ(Run(SettingFor(L"win2008r2"))["flags"], FlagDigits(6));
    // Workstations, 5.2 servers and 6.2 are not examined for it.
    EXPECT_EQ(Run(SettingFor(L"vista"))["flags"], FlagDigits(3));
    EXPECT_EQ(Run(SettingFor(L"win7"))["flags"], FlagDigits(7));
    EXPECT_EQ(Run(SettingFor(L"win2003"))["flags"], FlagDigits(2));
    EXPECT_EQ(Run(SettingFor(L"win8"))["flags"], FlagDigits(8));
}

TEST_F(ProbeProgramTest, HpcSubkeyIsFoundThroughThe64BitViewOnA64BitProcessor) {
    MakeHpcKey(L"HPC Pack");
    wchar_t saved[512] = {};
    const bool wasSet = GetEnvironmentVariableW(L"PROCESSOR_IDENTIFIER", saved, 512) != 0;
    SetEnvironmentVariableW(L"PROCESSOR_IDENTIFIER", L"AMD64 Family 25 Model 17 Stepping 1");
    std::string flags = Run(SettingFor(L"win2008"))["flags"];
    SetEnvironmentVariableW(L"PROCESSOR_IDENTIFIER", wasSet ? saved : nullptr);
    EXPECT_EQ(flags, FlagDigits(6));
}

TEST_F(ProbeProgramTest, ServicePackTextFollowsTheRelease) {
    EXPECT_EQ(Run(L"winxp")["servicepack"], "Service Pack 3");
    EXPECT_EQ(Run(L"win2k")["servicepack"], "Service Pack 4");
    auto report = Run(L"win8");
    ASSERT_EQ(report.count("servicepack"), 1u);
    EXPECT_EQ(report["servicepack"], "");
}

TEST(WindowsEditionFlags, EachAccessorReadsItsOwnByte) {
    unsigned (*const accessors[])(const WindowsEditionFlags*) = {
        IsWindows2000,  IsWindowsXP,         IsWindowsServer2003,
        IsWindowsVista, IsWindowsServer2008, IsWindowsServer2008R2,
        IsHpcServer,    IsWindows7,          IsWindows8};
    ASSERT_EQ(sizeof(WindowsEditionFlags), 9u);
    for (int set = 0; set < 9; ++set) {
        WindowsEditionFlags flags = {};
        reinterpret_cast<unsigned char*>(&flags)[set] = 1;
        for (int read = 0; read < 9; ++read) {
            EXPECT_EQ(accessors[read](&flags), read == set ? 1u : 0u) << set << " " << read;
        }
    }
}

// A stand-in for GetProductInfo that reports a chosen product type and records its calls.
DWORD fakeProductType = 0;
int fakeCalls = 0;
DWORD fakeArguments[4] = {};
BOOL WINAPI FakeGetProductInfo(DWORD major, DWORD minor, DWORD spMajor, DWORD spMinor,
                               DWORD* productType) {
    ++fakeCalls;
    fakeArguments[0] = major;
    fakeArguments[1] = minor;
    fakeArguments[2] = spMajor;
    fakeArguments[3] = spMinor;
    *productType = fakeProductType;
    return TRUE;
}

struct Report {
    DWORD major, minor;
    BYTE productType;  // 1 workstation, 2 domain controller, 3 server
    DWORD product;     // what GetProductInfo answers
    int flag;
    bool hpcTestMade;
};

TEST(ClassifyVersionReport, ReportsWineCannotProduce) {
    ASSERT_FALSE(HasSubkeyContaining(kMicrosoftKey, L"HPC", false)) << "prefix has an HPC key";
    const Report reports[] = {
        {6, 1, 2, 7, 5, true},        {6, 1, 2, 18, 6, true},         {6, 0, 2, 7, 4, true},
        {6, 0, 3, 18, 6, true},       {6, 1, 0, 7, 5, true},          {5, 2, 2, 18, 2, false},
        {6, 1, 1, 18, 7, false},      {6, 2, 3, 18, kNoFlag, false},  {6, 2, 2, 7, kNoFlag, false},
        {6, 3, 1, 0, kNoFlag, false}, {6, 3, 3, 18, kNoFlag, false},  {5, 3, 1, 0, kNoFlag, false},
        {7, 0, 1, 0, kNoFlag, false}, {10, 0, 3, 18, kNoFlag, false}, {0, 0, 0, 18, kNoFlag, false},
    };
    for (const Report& r : reports) {
        SCOPED_TRACE(std::to_string(r.major) + "." + std::to_string(r.minor) + " type " +
                     std::to_string(r.productType) + " product " + std::to_string(r.product));
        fakeProductType = r.product;
        fakeCalls = 0;
        std::memset(fakeArguments, 0xFF, sizeof(fakeArguments));
        WindowsEditionFlags flags;
        std::memset(&flags, 1, sizeof(flags));
        ClassifyVersionReport(r.major, r.minor, r.productType, FakeGetProductInfo, &flags);
        EXPECT_EQ(Digits(flags), FlagDigits(r.flag));
        EXPECT_EQ(fakeCalls, r.hpcTestMade ? 1 : 0);
        if (r.hpcTestMade) {
            EXPECT_EQ(fakeArguments[0], r.major);
            EXPECT_EQ(fakeArguments[1], r.minor);
            EXPECT_EQ(fakeArguments[2], 0u);
            EXPECT_EQ(fakeArguments[3], 0u);
        }
    }
}

TEST_F(ProbeProgramTest, MissingOrOrdinaryGetProductInfoLeavesItToTheRegistry) {
    const GetProductInfoFn system = reinterpret_cast<GetProductInfoFn>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetProductInfo")));
    ASSERT_NE(system, nullptr);
    WindowsEditionFlags flags;
    ClassifyVersionReport(6, 0, VER_NT_SERVER, nullptr, &flags);
    EXPECT_EQ(Digits(flags), FlagDigits(4));
    EXPECT_FALSE(PassesHpcTest(nullptr, 6, 1));
    EXPECT_FALSE(PassesHpcTest(system, 6, 1));

    MakeHpcKey(L"Hpc");
    ClassifyVersionReport(6, 0, VER_NT_SERVER, nullptr, &flags);
    EXPECT_EQ(Digits(flags), FlagDigits(6));
    EXPECT_TRUE(PassesHpcTest(nullptr, 6, 1));
    EXPECT_TRUE(PassesHpcTest(system, 6, 1));
}

}  // namespace

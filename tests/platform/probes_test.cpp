// The processor test, the subkey search and the registry string read.
#include "instutil/platform.h"

#include "test_support.h"

#include <string>

namespace {

void DeleteKey(HKEY root, const std::wstring& path) {
    RegDeleteTreeW(root, path.c_str());
    RegDeleteKeyW(root, path.c_str());
}

// Deletes `path` and everything below it in the registry view `view`.
void DeleteKeyInView(HKEY root, const std::wstring& path, REGSAM view) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_ALL_ACCESS | view, &key) == ERROR_SUCCESS) {
        RegDeleteTreeW(key, nullptr);
        RegCloseKey(key);
    }
    RegDeleteKeyExW(root, path.c_str(), view, 0);
}

bool KeyExists(HKEY root, const std::wstring& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

void MakeKey(HKEY root, const std::wstring& path, REGSAM view = 0) {
    HKEY key = nullptr;
    ASSERT_EQ(
        RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_READ | view, nullptr, &key, nullptr),
        ERROR_SUCCESS);
    RegCloseKey(key);
}

// True for a 32-bit process on 64-bit Windows, whose HKLM\SOFTWARE is redirected.
bool IsWow64() {
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

// Sets PROCESSOR_IDENTIFIER for a test and puts the previous value back.
class ProcessorTest : public ::testing::Test {
protected:
    void SetUp() override { wasSet_ = GetEnvironmentVariableW(kName, saved_, 512) != 0; }
    void TearDown() override { SetEnvironmentVariableW(kName, wasSet_ ? saved_ : nullptr); }
    static bool With(const std::wstring& value) {
        SetEnvironmentVariableW(kName, value.c_str());
        return Is64BitProcessor();
    }

    static constexpr const wchar_t* kName = L"PROCESSOR_IDENTIFIER";
    wchar_t saved_[512] = {};
    bool wasSet_ = false;
};

TEST_F(ProcessorTest, SixtyFourBitMarksAreMatchedCaseSensitively) {
    EXPECT_TRUE(With(L"AMD64 Family 25 Model 17 Stepping 1, AuthenticAMD"));
    EXPECT_TRUE(With(L"Intel64 Family 6 Model 85 Stepping 7, GenuineIntel"));
    EXPECT_TRUE(With(L"EM64T Family 15 Model 4 Stepping 1, GenuineIntel"));
    EXPECT_FALSE(With(L"x86 Family 6 Model 15 Stepping 11, GenuineIntel"));
    EXPECT_FALSE(With(L"intel64 family 6 model 85 stepping 7, genuineintel"));
    EXPECT_FALSE(With(L"Amd64 Family 25"));
    // A value far longer than any fixed buffer is read whole.
    EXPECT_TRUE(With(std::wstring(2000, L'x') + L" AMD64"));
}

TEST_F(ProcessorTest, UnsetOrEmptyIsNot64Bit) {
    SetEnvironmentVariableW(kName, nullptr);
    EXPECT_FALSE(Is64BitProcessor());
    EXPECT_FALSE(With(L""));
}

TEST(ProcessorOfThisSystem, Is64BitExactlyOnA64BitWindows) {
    // The system's own PROCESSOR_IDENTIFIER names a 64-bit processor on a 64-bit Windows, which
    // a 64-bit build sees natively and a 32-bit one under WoW64; a 32-bit Windows names x86.
    EXPECT_EQ(Is64BitProcessor(), sizeof(void*) == 8 || IsWow64());
}

// A scratch key under HKLM\SOFTWARE\Microsoft, removed with everything below it. Its subkeys are
// made in both registry views, which are distinct only for a 32-bit process on 64-bit Windows,
// so that a search through either view finds them.
class SubkeySearchTest : public ::testing::Test {
protected:
    void SetUp() override {
        path_ = L"SOFTWARE\\Microsoft\\instkit-search-" + std::to_wstring(GetCurrentProcessId());
        MakeKey(HKEY_LOCAL_MACHINE, path_);
    }
    void TearDown() override {
        for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY})
            DeleteKeyInView(HKEY_LOCAL_MACHINE, path_, view);
    }
    void AddSubkey(const std::wstring& name) {
        for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY})
            MakeKey(HKEY_LOCAL_MACHINE, path_ + L"\\" + name, view);
    }
    bool Search(const wchar_t* pattern, bool view64 = false) {
        return HasSubkeyContaining(path_.c_str(), pattern, view64);
    }

    std::wstring path_;
};

TEST_F(SubkeySearchTest, KeyWithoutSubkeysNeverMatches) {
    EXPECT_FALSE(Search(L""));
    EXPECT_FALSE(Search(L"HPC"));
}

TEST_F(SubkeySearchTest, EmptyPatternMatchesAnySubkey) {
    AddSubkey(L"Only");
    EXPECT_TRUE(Search(L""));
    EXPECT_TRUE(Search(L"", true));
}

TEST_F(SubkeySearchTest, NamesAreComparedWithAsciiLettersUpperCased) {
    AddSubkey(L"Alpha Pack");
    AddSubkey(L"hpc node");
    AddSubkey(L"Caf\x00E9");
    EXPECT_TRUE(Search(L"HPC"));
    EXPECT_TRUE(Search(L"Hpc N"));
    EXPECT_TRUE(Search(L"pack"));
    EXPECT_TRUE(Search(L"ALPHA", true));
    EXPECT_TRUE(Search(L"caf\x00E9"));
    EXPECT_FALSE(Search(L"CAF\x00C9"));  // only a-z change case
    EXPECT_FALSE(Search(L"Beta"));
    EXPECT_FALSE(Search(L"hpc nodes"));
    EXPECT_FALSE(Search(nullptr));
}

TEST_F(SubkeySearchTest, The64BitViewSeesPastRedirection) {
    // A key in the 64-bit view only: the 64-bit view finds it on every system; the default view
    // of a 32-bit process on 64-bit Windows is the redirected 32-bit one, which does not.
    MakeKey(HKEY_LOCAL_MACHINE, path_ + L"\\Native HPC", KEY_WOW64_64KEY);
    EXPECT_TRUE(Search(L"HPC", true));
    EXPECT_EQ(Search(L"HPC"), !IsWow64());
}

TEST_F(SubkeySearchTest, LongestSubkeyNameIsSearchedWhole) {
    AddSubkey(std::wstring(251, L'n') + L"tail");
    EXPECT_TRUE(Search(L"TAIL"));
}

TEST_F(SubkeySearchTest, MissingKeyGivesFalseAndIsNotCreated) {
    const std::wstring missing = path_ + L"\\missing";
    const std::wstring deeper = path_ + L"\\absent\\deeper";
    EXPECT_FALSE(HasSubkeyContaining(missing.c_str(), L"", false));
    EXPECT_FALSE(HasSubkeyContaining(deeper.c_str(), L"", true));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, missing));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, path_ + L"\\absent"));
}

// A scratch key under HKCU with string values of chosen lengths.
class RegistryReadTest : public ::testing::Test {
protected:
    void SetUp() override {
        path_ = L"Software\\instkit-read-" + std::to_wstring(GetCurrentProcessId());
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, 0,
                                  KEY_SET_VALUE | KEY_QUERY_VALUE, nullptr, &key_, nullptr),
                  ERROR_SUCCESS);
        destination_.assign(200, L'#');
    }
    void TearDown() override {
        RegCloseKey(key_);
        DeleteKey(HKEY_CURRENT_USER, path_);
    }
    // Stores `bytes` bytes of `text` (its terminator is byte 2 * length).
    void Set(const wchar_t* name, const std::wstring& text, DWORD bytes, DWORD type = REG_SZ) {
        ASSERT_EQ(
            RegSetValueExW(key_, name, 0, type, reinterpret_cast<const BYTE*>(text.c_str()), bytes),
            ERROR_SUCCESS);
    }
    void SetString(const wchar_t* name, const std::wstring& text) {
        Set(name, text, static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    }
    std::wstring Read(const wchar_t* name) {
        ReadRegistryString(HKEY_CURRENT_USER, path_.c_str(), &destination_[0], name);
        return destination_.c_str();
    }

    std::wstring path_;
    HKEY key_ = nullptr;
    std::wstring destination_;
};

TEST_F(RegistryReadTest, ValuesUpTo129CharactersAreCopied) {
    const std::wstring text129(129, L'a');
    SetString(L"v129", text129);
    SetString(nullptr, L"default");
    EXPECT_EQ(Read(L"v129"), text129);
    EXPECT_EQ(Read(nullptr), L"default");
    EXPECT_EQ(Read(L""), L"default");
}

TEST_F(RegistryReadTest, LongerOrMissingValuesGiveTheEmptyString) {
    SetString(L"v130", std::wstring(130, L'b'));
    EXPECT_EQ(Read(L"v130"), L"");
    destination_.assign(200, L'#');
    EXPECT_EQ(Read(L"absent"), L"");
}

TEST_F(RegistryReadTest, DataOfAnyTypeWithoutTerminatorEndsWhereTheDataEnds) {
    const std::wstring text130(130, L'c');
    Set(L"bare130", text130, 260, REG_BINARY);
    EXPECT_EQ(Read(L"bare130"), text130);
    EXPECT_EQ(destination_[131], L'#');  // nothing written past the 131 characters
    Set(L"bare3", L"xyz!", 6, REG_BINARY);
    EXPECT_EQ(Read(L"bare3"), L"xyz");
    Set(L"odd", L"xyz", 5, REG_BINARY);
    EXPECT_EQ(Read(L"odd"), L"xy");
}

TEST_F(RegistryReadTest, KeyThatCannotBeOpenedLeavesTheDestination) {
    const std::wstring missing = path_ + L"\\missing";
    ReadRegistryString(HKEY_CURRENT_USER, missing.c_str(), &destination_[0], L"v");
    EXPECT_EQ(destination_, std::wstring(200, L'#'));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, missing));
}

TEST_F(RegistryReadTest, CallersKeyStaysOpenWhenItIsTheKeyRead) {
    SetString(L"name", L"value");
    ReadRegistryString(key_, L"", &destination_[0], L"name");
    EXPECT_STREQ(destination_.c_str(), L"value");
    ReadRegistryString(key_, nullptr, &destination_[0], L"name");
    EXPECT_STREQ(destination_.c_str(), L"value");
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(key_, L"name", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
}

}  // namespace

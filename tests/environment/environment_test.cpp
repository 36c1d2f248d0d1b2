// Persistent environment variables against the prefix's real registry. A hidden top-level window
// on the test thread records every WM_SETTINGCHANGE; a broadcast sent from this thread reaches it
// synchronously, so the window sees the registry and the process environment exactly as they
// stand when the announcement goes out.
#include "instutil/environment.h"

#include "test_support.h"

#include <sddl.h>

#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr wchar_t kUserKey[] = L"Environment";
constexpr wchar_t kMachineKey[] =
    L"System\\CurrentControlSet\\Control\\Session Manager\\Environment";

struct RegValue {
    bool present = false;
    DWORD type = REG_NONE;
    std::vector<BYTE> bytes;
};

RegValue ReadValue(HKEY root, const wchar_t* subkey, const std::wstring& name) {
    RegValue value;
    BYTE data[256];
    DWORD size = sizeof(data);
    if (RegGetValueW(root, subkey, name.c_str(), RRF_RT_ANY | RRF_NOEXPAND, &value.type, data,
                     &size) == ERROR_SUCCESS) {
        value.present = true;
        value.bytes.assign(data, data + size);
    }
    return value;
}

void WriteString(HKEY root, const wchar_t* subkey, const std::wstring& name, const wchar_t* text) {
    ASSERT_EQ(RegSetKeyValueW(root, subkey, name.c_str(), REG_SZ, text,
                              static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
}

// The process variable, or "<unset>".
std::wstring ProcessVariable(const std::wstring& name) {
    wchar_t value[256];
    SetLastError(0);
    DWORD length = GetEnvironmentVariableW(name.c_str(), value, 256);
    if (length == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND) return L"<unset>";
    return std::wstring(value, length < 256 ? length : 0);
}

std::vector<BYTE> StringBytes(const std::wstring& text) {
    const BYTE* begin = reinterpret_cast<const BYTE*>(text.c_str());
    return std::vector<BYTE>(begin, begin + (text.size() + 1) * sizeof(wchar_t));
}

// What the window saw when a broadcast arrived.
struct Announcement {
    WPARAM wParam;
    std::wstring text;
    RegValue user;
    RegValue machine;
    std::wstring process;
};

std::wstring g_watched;  // the variable the running test works on
std::vector<Announcement> g_announcements;
const wchar_t* g_refill = nullptr;  // when set, the window puts this in the process

LRESULT CALLBACK RecordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_SETTINGCHANGE) {
        const wchar_t* text = reinterpret_cast<const wchar_t*>(lParam);
        g_announcements.push_back(
            {wParam, text ? text : L"<null>", ReadValue(HKEY_CURRENT_USER, kUserKey, g_watched),
             ReadValue(HKEY_LOCAL_MACHINE, kMachineKey, g_watched), ProcessVariable(g_watched)});
        if (g_refill) SetEnvironmentVariableW(g_watched.c_str(), g_refill);
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

class EnvironmentTest : public ::testing::Test {
protected:
    void SetUp() override {
        name_ = Widen(std::string("INSTKIT_TEST_") +
                      ::testing::UnitTest::GetInstance()->current_test_info()->name());
        g_watched = name_;
        g_announcements.clear();
        g_refill = nullptr;
        WNDCLASSW windowClass = {};
        windowClass.lpfnWndProc = RecordingProc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"InstkitSettingRecorder";
        ASSERT_NE(RegisterClassW(&windowClass), 0);
        window_ = CreateWindowExW(0, windowClass.lpszClassName, L"", WS_OVERLAPPEDWINDOW, 0, 0, 10,
                                  10, nullptr, nullptr, windowClass.hInstance, nullptr);
        ASSERT_NE(window_, nullptr);
    }
    void TearDown() override {
        RevertToSelf();
        if (token_) CloseHandle(token_);
        // Everyone may open the key again, as before the test.
        if (machineKeyLocked_) SetMachineKeyAccess(L"D:(A;;KA;;;WD)");
        DestroyWindow(window_);
        UnregisterClassW(L"InstkitSettingRecorder", GetModuleHandleW(nullptr));
        DeleteRegValue(HKEY_CURRENT_USER, kUserKey, name_.c_str());
        DeleteRegValue(HKEY_LOCAL_MACHINE, kMachineKey, name_.c_str());
        SetEnvironmentVariableW(name_.c_str(), nullptr);
    }
    // Runs the rest of the test as an administrator without elevation, with the machine key
    // writable by administrators only, as on a real installation.
    void DropAdministrator() {
        machineKeyLocked_ = true;
        ASSERT_NO_FATAL_FAILURE(SetMachineKeyAccess(L"D:(A;;KA;;;BA)(A;;KA;;;SY)(A;;KR;;;BU)"));
        token_ = MakeNonAdminToken();
        ASSERT_NE(token_, nullptr);
        ASSERT_TRUE(ImpersonateLoggedOnUser(token_));
    }
    static void SetMachineKeyAccess(const wchar_t* sddl) {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1,
                                                                         &descriptor, nullptr));
        HKEY key = nullptr;
        LONG opened = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kMachineKey, 0, WRITE_DAC, &key);
        LONG set = opened == ERROR_SUCCESS
                       ? RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor)
                       : opened;
        if (key) RegCloseKey(key);
        LocalFree(descriptor);
        ASSERT_EQ(set, ERROR_SUCCESS);
    }
    RegValue User() const { return ReadValue(HKEY_CURRENT_USER, kUserKey, name_); }
    RegValue Machine() const { return ReadValue(HKEY_LOCAL_MACHINE, kMachineKey, name_); }
    void PutInBothKeys() {
        WriteString(HKEY_CURRENT_USER, kUserKey, name_, L"user");
        WriteString(HKEY_LOCAL_MACHINE, kMachineKey, name_, L"machine");
    }

    std::wstring name_;
    HWND window_ = nullptr;
    HANDLE token_ = nullptr;
    bool machineKeyLocked_ = false;
};

TEST_F(EnvironmentTest, UnknownScopesTouchNothing) {
    PutInBothKeys();
    SetEnvironmentVariableW(name_.c_str(), L"before");
    for (EnvironmentScope scope : {2, -1}) {
        SCOPED_TRACE(scope);
        EXPECT_EQ(SetPersistentVariable(name_.c_str(), L"after", REG_SZ, scope), E_INVALIDARG);
        EXPECT_EQ(DeletePersistentVariable(name_.c_str(), scope), E_INVALIDARG);
    }
    EXPECT_EQ(User().bytes, StringBytes(L"user"));
    EXPECT_EQ(Machine().bytes, StringBytes(L"machine"));
    EXPECT_EQ(ProcessVariable(name_), L"before");
    EXPECT_TRUE(g_announcements.empty());
}

TEST_F(EnvironmentTest, StringAtUserScopeReachesRegistryThenProcessThenWindows) {
    SetEnvironmentVariableW(name_.c_str(), L"old");
    ASSERT_EQ(SetPersistentVariable(name_.c_str(), L"C:\\new value", REG_SZ, kUserEnvironment),
              S_OK);
    RegValue user = User();
    EXPECT_EQ(user.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(user.bytes, StringBytes(L"C:\\new value"));
    EXPECT_FALSE(Machine().present);
    EXPECT_EQ(ProcessVariable(name_), L"C:\\new value");
    ASSERT_EQ(g_announcements.size(), 1u);
    EXPECT_EQ(g_announcements[0].wParam, 0u);
    EXPECT_EQ(g_announcements[0].text, L"Environment");
    EXPECT_EQ(g_announcements[0].user.bytes, StringBytes(L"C:\\new value"));
    EXPECT_EQ(g_announcements[0].process, L"C:\\new value");
}

TEST_F(EnvironmentTest, StringAtMachineScopeGoesToMachineKeyOnly) {
    ASSERT_EQ(SetPersistentVariable(name_.c_str(), L"wide", REG_SZ, kMachineEnvironment), S_OK);
    EXPECT_EQ(Machine().bytes, StringBytes(L"wide"));
    EXPECT_FALSE(User().present);
    EXPECT_EQ(ProcessVariable(name_), L"wide");
    ASSERT_EQ(g_announcements.size(), 1u);
    EXPECT_EQ(g_announcements[0].machine.bytes, StringBytes(L"wide"));
    EXPECT_EQ(g_announcements[0].process, L"wide");
}

TEST_F(EnvironmentTest, OtherTypesAreWrittenButLeaveTheProcessAlone) {
    SetEnvironmentVariableW(name_.c_str(), L"old");
    ASSERT_EQ(SetPersistentVariable(name_.c_str(), L"%TEMP%\\x", REG_EXPAND_SZ, kUserEnvironment),
              S_OK);
    RegValue expandable = User();
    EXPECT_EQ(expandable.type, static_cast<DWORD>(REG_EXPAND_SZ));
    EXPECT_EQ(expandable.bytes, StringBytes(L"%TEMP%\\x"));
    ASSERT_EQ(g_announcements.size(), 1u);
    EXPECT_EQ(g_announcements[0].user.bytes, StringBytes(L"%TEMP%\\x"));

    // Only the first four bytes of a wider buffer are taken.
    const BYTE data[8] = {0x78, 0x56, 0x34, 0x12, 0xAA, 0xBB, 0xCC, 0xDD};
    ASSERT_EQ(SetPersistentVariable(name_.c_str(), data, REG_DWORD, kUserEnvironment), S_OK);
    RegValue number = User();
    EXPECT_EQ(number.type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(number.bytes, std::vector<BYTE>(data, data + 4));
    EXPECT_EQ(g_announcements.size(), 2u);
    EXPECT_EQ(ProcessVariable(name_), L"old");
}

TEST_F(EnvironmentTest, EmptyStringIsTheTerminatorAlone) {
    SetEnvironmentVariableW(name_.c_str(), L"old");
    ASSERT_EQ(SetPersistentVariable(name_.c_str(), L"", REG_SZ, kUserEnvironment), S_OK);
    RegValue user = User();
    EXPECT_EQ(user.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(user.bytes, std::vector<BYTE>(2, 0));
    EXPECT_EQ(ProcessVariable(name_), L"");
    EXPECT_EQ(g_announcements.size(), 1u);
}

TEST_F(EnvironmentTest, WriteThatFailsIsReportedAndGoesNoFurther) {
    // The registry refuses value names past 16383 characters; the process environment would not.
    std::wstring tooLong(20000, L'N');
    ASSERT_TRUE(SetEnvironmentVariableW(tooLong.c_str(), L"before"));
    EXPECT_EQ(SetPersistentVariable(tooLong.c_str(), L"after", REG_SZ, kUserEnvironment), E_FAIL);
    EXPECT_EQ(ProcessVariable(tooLong), L"before");
    SetEnvironmentVariableW(tooLong.c_str(), nullptr);

    // No data at all, for a number or a string.
    EXPECT_EQ(SetPersistentVariable(name_.c_str(), nullptr, REG_DWORD, kUserEnvironment), E_FAIL);
    EXPECT_EQ(SetPersistentVariable(name_.c_str(), nullptr, REG_SZ, kUserEnvironment), E_FAIL);
    EXPECT_FALSE(User().present);
    EXPECT_TRUE(g_announcements.empty());
}

TEST_F(EnvironmentTest, MachineScopeWithoutAdministratorRightsWritesNothing) {
    ASSERT_NO_FATAL_FAILURE(DropAdministrator());
    EXPECT_EQ(SetPersistentVariable(name_.c_str(), L"v", REG_SZ, kMachineEnvironment), E_FAIL);
    EXPECT_EQ(ProcessVariable(name_), L"<unset>");
    EXPECT_TRUE(g_announcements.empty());
    RevertToSelf();
    EXPECT_FALSE(Machine().present);
}

TEST_F(EnvironmentTest, DeletingWhatIsNotThereSucceedsQuietly) {
    SetEnvironmentVariableW(name_.c_str(), L"kept");
    EXPECT_EQ(DeletePersistentVariable(name_.c_str(), kUserEnvironment), S_OK);
    EXPECT_EQ(DeletePersistentVariable(name_.c_str(), kMachineEnvironment), S_OK);
    EXPECT_EQ(ProcessVariable(name_), L"kept");
    EXPECT_TRUE(g_announcements.empty());
}

TEST_F(EnvironmentTest, UserScopeDeletesFromUserKeyOnly) {
    PutInBothKeys();
    SetEnvironmentVariableW(name_.c_str(), L"live");
    // The machine key is not even opened: without the rights to it the deletion still succeeds.
    ASSERT_NO_FATAL_FAILURE(DropAdministrator());
    EXPECT_EQ(DeletePersistentVariable(name_.c_str(), kUserEnvironment), S_OK);
    RevertToSelf();
    EXPECT_FALSE(User().present);
    EXPECT_EQ(Machine().bytes, StringBytes(L"machine"));
    EXPECT_EQ(ProcessVariable(name_), L"<unset>");
    ASSERT_EQ(g_announcements.size(), 1u);
    EXPECT_EQ(g_announcements[0].text, L"Environment");
    EXPECT_FALSE(g_announcements[0].user.present);
    EXPECT_EQ(g_announcements[0].process, L"<unset>");
}

TEST_F(EnvironmentTest, MachineScopeDeletesUserValueFirstThenMachineValue) {
    PutInBothKeys();
    SetEnvironmentVariableW(name_.c_str(), L"live");
    // Each step must clear the process variable again before announcing itself.
    g_refill = L"refilled";
    EXPECT_EQ(DeletePersistentVariable(name_.c_str(), kMachineEnvironment), S_OK);
    EXPECT_FALSE(User().present);
    EXPECT_FALSE(Machine().present);
    ASSERT_EQ(g_announcements.size(), 2u);
    EXPECT_FALSE(g_announcements[0].user.present);
    EXPECT_TRUE(g_announcements[0].machine.present);
    EXPECT_EQ(g_announcements[0].process, L"<unset>");
    EXPECT_FALSE(g_announcements[1].machine.present);
    EXPECT_EQ(g_announcements[1].process, L"<unset>");
    EXPECT_EQ(g_announcements[1].text, L"Environment");
}

TEST_F(EnvironmentTest, MachineScopeWithoutAdministratorRightsStillClearsUserValue) {
    PutInBothKeys();
    SetEnvironmentVariableW(name_.c_str(), L"live");
    ASSERT_NO_FATAL_FAILURE(DropAdministrator());
    EXPECT_EQ(DeletePersistentVariable(name_.c_str(), kMachineEnvironment), E_FAIL);
    RevertToSelf();
    EXPECT_FALSE(User().present);
    EXPECT_EQ(Machine().bytes, StringBytes(L"machine"));
    EXPECT_EQ(ProcessVariable(name_), L"<unset>");
    EXPECT_EQ(g_announcements.size(), 1u);
}

}  // namespace

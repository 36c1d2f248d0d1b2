// The support tool check_shortcuts on staged installs: what it says, and its exit code.
#include "test_support.h"

namespace {

std::string Relinfo(const std::string& folder, const std::string& revision) {
    return "<r startMenuFolderName=\"" + folder + "\" startMenuShortcutAppendRevision=\"" +
           revision + "\"/>";
}

size_t Count(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

class CheckToolTest : public InstallTreeTest {
protected:
    // Runs the tool on the staged add_shortcuts.exe; `output` receives what it prints.
    DWORD Check(std::string* output, HANDLE token = nullptr, const std::wstring& options = L"") {
        return RunProgram(L"\"" + ThisProgramDir() + L"..\\..\\tools\\check_shortcuts.exe\"" +
                              options + L" \"" + bin_ + L"\\add_shortcuts.exe\"",
                          token, 60000, nullptr, output);
    }
    // The programs the shortcuts start.
    void StageTargets() {
        for (const char* name : {"vxstart", "vxmotion", "vxplot", "KLD_ADMIN"}) {
            WriteBytes(root_ + L"\\KELDA\\bin\\winx64\\" + Widen(name) + L".exe", "x");
        }
    }
};

}  // namespace

TEST_F(CheckToolTest, AHealthyInstallPassesAndNothingChanges) {
    Stage(Relinfo("Vortasim 18", "18.1"));
    StageTargets();
    ASSERT_EQ(Run(L"add_shortcuts"), 0u);
    std::vector<std::wstring> before = ListTree(scratch_);

    std::string out;
    EXPECT_EQ(Check(&out), 0u) << out;
    EXPECT_NE(out.find("install root  " + Narrow(root_) + " "), std::string::npos) << out;
    EXPECT_EQ(Count(out, "\n  present  Vortasim 18\\"), 5u) << out;
    EXPECT_NE(out.find("present  Vortasim 18\\Utilities\\KLD_ADMIN 18.1.lnk\n           -> " +
                       Narrow(root_) + "\\KELDA\\bin\\winx64\\KLD_ADMIN.exe  (exists)"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("Result: all well"), std::string::npos) << out;

    EXPECT_EQ(Check(&out, nullptr, L" --json"), 0u) << out;
    EXPECT_NE(out.find("\"ok\": true"), std::string::npos) << out;
    EXPECT_EQ(Count(out, "\"present\": true"), 5u) << out;
    EXPECT_EQ(ListTree(scratch_), before);
}

TEST_F(CheckToolTest, UsageErrorsExitWithTwo) {
    Stage(Relinfo("S", "1"));
    std::wstring tool = L"\"" + ThisProgramDir() + L"..\\..\\tools\\check_shortcuts.exe\"";
    std::string out;
    EXPECT_EQ(RunProgram(tool, nullptr, 60000, nullptr, &out), 2u);
    EXPECT_NE(out.find("usage: check_shortcuts"), std::string::npos) << out;
    EXPECT_EQ(RunProgram(tool + L" a.exe b.exe"), 2u);
    EXPECT_EQ(RunProgram(tool + L" --verbose a.exe"), 2u);
    EXPECT_EQ(RunProgram(tool + L" \"" + bin_ + L"\""), 2u);
}

TEST_F(CheckToolTest, UnusablePathsAreNamed) {
    // Too shallow at 519 characters; at 520, too long for the programs to use at all.
    std::wstring tool = L"\"" + ThisProgramDir() + L"..\\..\\tools\\check_shortcuts.exe\" ";
    const std::wstring name = L"\\add_shortcuts.exe";
    std::wstring shallow = L"C:\\" + std::wstring(519 - 3 - name.size(), L'a') + name;
    std::string out;
    EXPECT_EQ(RunProgram(tool + shallow, nullptr, 60000, nullptr, &out), 1u) << out;
    EXPECT_NE(out.find("The program lies 2 levels below \"C:\\\", not five"), std::string::npos)
        << out;
    EXPECT_EQ(out.find("characters; the programs cannot use"), std::string::npos) << out;

    EXPECT_EQ(RunProgram(tool + L"C:\\a" + shallow.substr(3), nullptr, 60000, nullptr, &out), 1u);
    EXPECT_NE(out.find("has 520 characters; the programs cannot use a path of 520 or more"),
              std::string::npos)
        << out;
}

TEST_F(CheckToolTest, AMissingReleaseFileIsReported) {
    Stage("");
    DeleteFileW((root_ + L"\\commonfiles\\globalsettings\\relinfo.xml").c_str());
    StageTargets();
    ASSERT_EQ(Run(L"add_shortcuts"), 0u);

    std::string out;
    EXPECT_EQ(Check(&out), 1u) << out;
    EXPECT_NE(out.find("  file          NOT FOUND\n"), std::string::npos) << out;
    EXPECT_NE(out.find("relinfo.xml is not there: the programs read no folder name"),
              std::string::npos)
        << out;
    // The programs then write to the top of the Programs folder, which the tool follows.
    EXPECT_NE(out.find("present  Vortasim Product Launcher.lnk\n"), std::string::npos) << out;
}

TEST_F(CheckToolTest, RefusedValuesAreExplainedAndShownEscapedAndBounded) {
    Stage(Relinfo("..\\..\\Startup", "18.1"));
    std::string out;
    EXPECT_EQ(Check(&out), 1u) << out;
    EXPECT_NE(out.find("\"..\\..\\Startup\"  REFUSED: it has the component \"..\""),
              std::string::npos)
        << out;

    // A folder name that would drive a terminal, and a long revision with a backslash.
    Stage(
        Relinfo("S\x1b]0;owned\x07\xc2\x9b"
                "2J",
                std::string(5000, 'r') + "\\"));
    EXPECT_EQ(Check(&out), 1u) << out;
    EXPECT_NE(out.find("\"S<U+001B>]0;owned<U+0007><U+009B>2J\"  REFUSED: it holds \"<U+001B>\""),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("...(4841 more characters)\"  REFUSED: it holds \"\\\" (U+005C)"),
              std::string::npos)
        << out;
    for (char c : out) EXPECT_TRUE(c == '\n' || static_cast<unsigned char>(c) >= 0x20) << out;
    EXPECT_EQ(out.find("\xc2\x9b"), std::string::npos) << out;
    EXPECT_EQ(out.find(std::string(161, 'r')), std::string::npos);
}

TEST_F(CheckToolTest, ShortcutsOfTheOtherKindOfRunAreFoundAndExplained) {
    Stage(Relinfo("Vortasim 18", "18.1"));
    StageTargets();
    HANDLE token = MakeNonAdminToken();
    ASSERT_NE(token, nullptr);

    // Installed without administrator rights, checked by an administrator.
    ASSERT_EQ(Run(L"add_shortcuts", L"", token), 0u);
    std::string out;
    EXPECT_EQ(Check(&out), 1u) << out;
    EXPECT_NE(out.find("5 of the 5 shortcuts are missing from the all-users Programs folder, the "
                       "one this account's run uses. 5 of them are in the per-user folder, where "
                       "a run without administrator rights puts them. This account passes the "
                       "administrator check"),
              std::string::npos)
        << out;

    // Installed by an administrator, checked without administrator rights.
    ASSERT_EQ(Run(L"remove_shortcuts", L"", token), 0u);
    ASSERT_EQ(Run(L"add_shortcuts"), 0u);
    EXPECT_EQ(Check(&out, token), 1u) << out;
    EXPECT_NE(out.find("5 of the 5 shortcuts are missing from the per-user Programs folder, the "
                       "one this account's run uses. 5 of them are in the all-users folder, where "
                       "a run with administrator rights puts them. This account does not pass the "
                       "administrator check"),
              std::string::npos)
        << out;
    CloseHandle(token);
}

TEST_F(CheckToolTest, AnUpgradesStaleShortcutsAreListed) {
    // 18.0 installed, then 18.1 over it without removing 18.0's shortcuts; an emptied folder of an
    // older release beside them.
    Stage(Relinfo("Vortasim 18", "18.0"));
    ASSERT_EQ(Run(L"add_shortcuts"), 0u);
    Stage(Relinfo("Vortasim 18", "18.1"));
    StageTargets();
    ASSERT_EQ(Run(L"add_shortcuts"), 0u);
    MakeDirs(commonPrograms_ + L"\\Vortasim 17\\Utilities");

    std::string out;
    EXPECT_EQ(Check(&out), 1u) << out;
    const std::string suite = Narrow(commonPrograms_) + "\\Vortasim 18\\";
    for (const char* stale :
         {"Vortasim Product Launcher 18.0.lnk", "Vortasim 18.0.lnk", "Utilities\\Motion 18.0.lnk",
          "Utilities\\Plotview 18.0.lnk", "Utilities\\KLD_ADMIN 18.0.lnk"}) {
        EXPECT_NE(out.find("  " + suite + stale + "\n           another revision: \"18.0\"\n"),
                  std::string::npos)
            << stale << "\n"
            << out;
    }
    EXPECT_EQ(Count(out, "another revision"), 5u) << out;
    EXPECT_NE(out.find(Narrow(commonPrograms_) +
                       "\\Vortasim 17\\\n           a folder of the suite's shape without files"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("6 leftovers"), std::string::npos) << out;
}

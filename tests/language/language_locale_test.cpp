// Runs once per locale named by LC_ALL (see CMakeLists.txt): the user's default locale alone
// decides the language when no settings file does.
#include "language_scratch.h"

#include <cstring>
#include <cwchar>

namespace {

struct LocaleCase {
    const char* unixLocale;
    LCID lcid;
    LanguageIndex language;
    const wchar_t* code;
};

const LocaleCase kLocales[] = {
    {"ja_JP.UTF-8", 0x0411, 3, L"ja"},    {"de_CH.UTF-8", 0x0807, 1, L"de"},
    {"fr_CA.UTF-8", 0x0C0C, 2, L"fr"},    {"fr_MA.UTF-8", 0x380C, 2, L"fr"},
    {"en_GB.UTF-8", 0x0809, 0, L"en-us"}, {"pt_BR.UTF-8", 0x0416, 0, L"en-us"},  // in no table
};

class UserLocale : public LanguageScratchTest {
protected:
    void SetUp() override {
        LanguageScratchTest::SetUp();
        char name[64] = "";
        GetEnvironmentVariableA("LC_ALL", name, sizeof name);
        for (const LocaleCase& c : kLocales)
            if (strcmp(c.unixLocale, name) == 0) locale_ = &c;
        ASSERT_NE(locale_, nullptr) << "no expectations for LC_ALL=" << name;
        ASSERT_EQ(GetUserDefaultLCID(), locale_->lcid) << "LC_ALL did not set the user locale";
    }
    const LocaleCase* locale_ = nullptr;
};

}  // namespace

TEST_F(UserLocale, DecidesWithoutSettingsFiles) {
    EXPECT_EQ(DetectLanguageFromLocale(), locale_->language);
    int queried = 0;
    EXPECT_EQ(FoundCode(&queried), locale_->code);
    EXPECT_EQ(queried, static_cast<int>(wcslen(locale_->code)) + 1);
    EXPECT_EQ(GetLanguage(true, root_.c_str()), locale_->language);
    EXPECT_FALSE(DirExists(appData_));  // the locale's own choice is not saved
}

TEST_F(UserLocale, ReplacesUnknownStoredCode) {
    WriteSettings(userFile_, "lang=xx");
    EXPECT_EQ(GetLanguage(false, root_.c_str()), locale_->language);
    EXPECT_EQ(ReadBytes(userFile_), "lang=xx");
    EXPECT_EQ(GetLanguage(true, root_.c_str()), locale_->language);
    EXPECT_EQ(ReadBytes(userFile_), "lang=" + Narrow(locale_->code));
}

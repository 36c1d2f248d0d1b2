// A scratch "APPDATA" and install root for the language tests. The per-user settings file lies
// under the scratch "APPDATA" (which is not created up front); the previous "APPDATA" comes back
// afterwards.
#pragma once

#include "instutil/language.h"
#include "test_support.h"

#include <string>

class LanguageScratchTest : public ::testing::Test {
protected:
    void SetUp() override {
        scratch_ = MakeScratchDir(L"language");
        appData_ = scratch_ + L"\\appdata";
        root_ = scratch_ + L"\\root";
        userFile_ = appData_ + L"\\Kelda\\v182\\languagesettings.txt";
        installFile_ = root_ + L"\\commonfiles\\Language\\languagesettings.txt";
        wchar_t saved[MAX_PATH];
        DWORD length = GetEnvironmentVariableW(L"APPDATA", saved, MAX_PATH);
        hadAppData_ = length > 0 && length < MAX_PATH;
        if (hadAppData_) savedAppData_ = saved;
        SetEnvironmentVariableW(L"APPDATA", appData_.c_str());
    }
    void TearDown() override {
        SetEnvironmentVariableW(L"APPDATA", hadAppData_ ? savedAppData_.c_str() : nullptr);
        RemoveTree(scratch_);
    }
    static void WriteSettings(const std::wstring& file, const std::string& bytes) {
        MakeDirs(file.substr(0, file.rfind(L'\\')));
        WriteBytes(file, bytes);
    }
    // FindLanguageCode's size query, then its fill into a buffer of that size.
    std::wstring FoundCode(int* queried) {
        *queried = FindLanguageCode(root_.c_str(), nullptr, 0);
        std::wstring code(*queried > 0 ? *queried : 1, L'?');
        WideBuffer holder = &code[0];
        EXPECT_EQ(FindLanguageCode(root_.c_str(), &holder, static_cast<DWORD>(code.size())), 0);
        return code.c_str();
    }

    std::wstring scratch_, appData_, root_, userFile_, installFile_;
    std::wstring savedAppData_;
    bool hadAppData_ = false;
};

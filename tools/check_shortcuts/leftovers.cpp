#include "leftovers.h"

#include <windows.h>

#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include "files.h"
#include "instutil/owners.h"
#include "instutil/shortcut_file.h"
#include "suite/suite.h"

namespace {

constexpr int kScanDepth = 6;           // folder levels looked through below a Programs folder
constexpr size_t kScanEntries = 20000;  // entries looked at in one Programs folder

struct Scan {
    std::wstring programs;
    size_t budget = kScanEntries;
    bool cut = false;
    std::vector<std::wstring> shortcuts;     // .lnk files, relative to the Programs folder
    std::vector<std::wstring> emptyFolders;  // folders of the suite's shape without files
};

std::wstring LastComponent(const std::wstring& relative) {
    size_t last = relative.rfind(L'\\');
    return last == std::wstring::npos ? relative : relative.substr(last + 1);
}

// What one folder holds, as the search needs it.
struct Contents {
    bool holdsFile = false;  // a file at any depth, or not looked through in full
    size_t folders = 0;
    bool onlyEmptyUtilities = false;  // its one entry is a Utilities folder without files
};

// Looks through `relative` below the Programs folder (reparse points are not followed).
Contents ScanFolder(const std::wstring& relative, int depth, const std::wstring& suiteFolder,
                    Scan* scan) {
    Contents contents;
    std::wstring folder = relative.empty() ? scan->programs : scan->programs + L"\\" + relative;
    WIN32_FIND_DATAW data;
    HANDLE rawFind = FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (rawFind == INVALID_HANDLE_VALUE) {
        contents.holdsFile = true;
        return contents;
    }
    UniqueFind find(rawFind);
    size_t entries = 0;
    bool emptyUtilities = false;
    do {
        std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        if (scan->budget == 0) {
            scan->cut = true;
            contents.holdsFile = true;
            return contents;
        }
        --scan->budget;
        ++entries;
        std::wstring child = relative.empty() ? name : relative + L"\\" + name;
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            contents.holdsFile = true;
            if (name.size() > 4 && EqualNoCase(name.substr(name.size() - 4), L".lnk")) {
                scan->shortcuts.push_back(child);
            }
            continue;
        }
        ++contents.folders;
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || depth >= kScanDepth) {
            contents.holdsFile = true;
            continue;
        }
        Contents inner = ScanFolder(child, depth + 1, suiteFolder, scan);
        contents.holdsFile = contents.holdsFile || inner.holdsFile;
        emptyUtilities =
            !inner.holdsFile && inner.folders == 0 && EqualNoCase(name, kUtilitiesName);
    } while (FindNextFileW(find.get(), &data));
    contents.onlyEmptyUtilities = entries == 1 && emptyUtilities;
    // The suite's shape: a folder whose one entry is an empty Utilities folder, or the current
    // suite folder itself, without files.
    if (!contents.holdsFile && !relative.empty() &&
        (contents.onlyEmptyUtilities || EqualNoCase(relative, suiteFolder))) {
        scan->emptyFolders.push_back(relative);
    }
    return contents;
}

// Whether the shortcut `relative` (below the Programs folder) is one of the suite's, by the names
// the programs write and delete: <title>[ <revision>].lnk at the top of a folder or in its
// Utilities, the longest title that fits; one the installer writes must also start its program
// (by the file name of its target, which is not looked at).
bool MatchSuiteShortcut(const std::wstring& programs, const std::wstring& relative,
                        std::wstring* folder, std::wstring* revision, bool* blankName) {
    size_t slash = relative.rfind(L'\\');
    std::wstring directory = slash == std::wstring::npos ? L"" : relative.substr(0, slash);
    std::wstring stem = relative.substr(slash == std::wstring::npos ? 0 : slash + 1);
    stem.resize(stem.size() - 4);  // ".lnk"
    const bool inUtilities = EqualNoCase(LastComponent(directory), kUtilitiesName);
    const wchar_t* tail = inUtilities ? kUtilitiesTail.data() : kTopTail;

    const CatalogueEntry* match = nullptr;
    for (const CatalogueEntry& entry : kSuiteCatalogue) {
        std::wstring title = entry.title;
        if (wcscmp(entry.subfolderTail, tail) != 0) continue;
        if (!EqualNoCase(stem, title) && !StartsWithNoCase(stem, title + L" ")) continue;
        if (!match || title.size() > wcslen(match->title)) match = &entry;
    }
    if (!match) return false;
    if (!match->removalOnly) {
        ShortcutFields fields;
        if (FAILED(ReadShortcutFile((programs + L"\\" + relative).c_str(), &fields))) return false;
        std::wstring file = fields.target.substr(fields.target.find_last_of(L"\\/") + 1);
        if (!EqualNoCase(file, match->executable)) return false;
    }
    size_t titleSize = wcslen(match->title);
    *revision = stem.size() > titleSize ? stem.substr(titleSize + 1) : L"";
    *blankName = stem.size() == titleSize + 1;
    if (inUtilities) {
        size_t up = directory.rfind(L'\\');
        directory = up == std::wstring::npos ? L"" : directory.substr(0, up);
    }
    *folder = directory;
    return true;
}

const FindingKind& KindOf(const Report& report, const std::wstring& folder,
                          const std::wstring& revision, bool blankName) {
    if (!report.writes) return finding::kSuiteShortcut;
    if (blankName) return finding::kBlankName;
    const bool sameFolder = EqualNoCase(folder, report.folder.value);
    const bool sameRevision = EqualNoCase(revision, report.revision.value);
    if (!sameFolder && !sameRevision) return finding::kOtherFolderAndRevision;
    if (!sameFolder) return finding::kOtherFolder;
    if (!sameRevision) return finding::kOtherRevision;
    // One of the five, or another name remove_shortcuts deletes with the current values.
    return finding::kSuiteShortcut;
}

}  // namespace

void FindLeftovers(Report* report) {
    size_t emptyFolders = 0;
    for (const FolderCheck& folder : report->folders) {
        if (folder.path.empty() || !folder.local) continue;
        Scan scan;
        scan.programs = folder.path;
        ScanFolder(L"", 0, report->writes ? report->folder.value : L"", &scan);
        report->searchCut = report->searchCut || scan.cut;

        for (const std::wstring& relative : scan.shortcuts) {
            std::wstring name;
            std::wstring revision;
            bool blankName = false;
            if (!MatchSuiteShortcut(folder.path, relative, &name, &revision, &blankName)) continue;
            const FindingKind& kind = KindOf(*report, name, revision, blankName);
            if (report->writes && &kind == &finding::kSuiteShortcut) continue;
            Finding& leftover = Add(report, kind, folder.path + L"\\" + relative);
            leftover.folder = name;
            leftover.revision = revision;
            // Values refused: remove_shortcuts deletes nothing, so every suite shortcut stays.
            // Values unknown (relinfo.xml not read): nothing can be said of it.
            leftover.counts = report->releaseRead;
        }
        // The outermost of nested empty folders stands for them all.
        for (const std::wstring& relative : scan.emptyFolders) {
            bool inner = false;
            for (const std::wstring& other : scan.emptyFolders) {
                inner = inner || (other.size() < relative.size() &&
                                  StartsWithNoCase(relative, other + L"\\"));
            }
            if (!inner) {
                Add(report, finding::kEmptyFolder, folder.path + L"\\" + relative + L"\\");
                ++emptyFolders;
            }
        }
    }
    // Shortcuts of the suite count; empty folders may be another program's and are only listed.
    size_t shortcuts = CountOf(*report, Severity::kLeftover);
    if (shortcuts > 0) Add(report, finding::kLeftovers, L"", shortcuts);
    if (emptyFolders > 0) Add(report, finding::kEmptyFolders, L"", emptyFolders);
    if (report->searchCut) Add(report, finding::kSearchCut, L"", kScanEntries);
}

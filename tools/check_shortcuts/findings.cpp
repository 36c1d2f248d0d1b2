#include "findings.h"

Finding& Add(Report* report, const FindingKind& kind, const std::wstring& path, uint64_t count,
             uint64_t other) {
    Finding found;
    found.kind = &kind;
    found.path = path;
    found.count = count;
    found.other = other;
    report->findings.push_back(found);
    return report->findings.back();
}

size_t CountOf(const Report& report, Severity severity) {
    size_t count = 0;
    for (const Finding& found : report.findings) {
        count +=
            found.kind->severity == severity && (severity != Severity::kLeftover || found.counts);
    }
    return count;
}

// The findings for their readers: for a person, in sections, every text from the install bounded
// and escaped as <U+XXXX>; and as JSON, the findings as data, every text as found, escaped only as
// JSON wants (the output is plain ASCII). JSON texts are whole, except the two relinfo.xml values,
// which are cut at kJsonValueChars with "cut": true and their full "length" beside them; paths and
// shortcut fields cannot exceed Windows' own limit of 32767 characters. Each problem, note and
// leftover has its "kind" (findings.h) to act on and its sentence.
#pragma once

#include <string>

#include "findings.h"

constexpr size_t kJsonValueChars = 4096;

std::wstring TextReport(const Report& report);
std::wstring JsonReport(const Report& report);

// The finding's sentence. For a person texts from the install are bounded and escaped as
// <U+XXXX>; otherwise they are bounded but left as they are, for a JSON string.
std::wstring Sentence(const Finding& found, bool forPerson);

// The report as JSON: the findings as data. Every text is the text as found, escaped only as
// JSON wants (the output is plain ASCII). Texts are whole, except the two relinfo.xml values,
// which are cut at kJsonValueChars with "cut": true and their full "length" beside them; paths
// and shortcut fields cannot exceed Windows' own limit of 32767 characters. Each problem and
// note has a "kind" to act on and a "message" in words.
#pragma once

#include <string>

#include "findings.h"

constexpr size_t kJsonValueChars = 4096;

std::wstring JsonReport(const Report& report);

// The report for a person: the findings in sections, every text from the install bounded and
// escaped, problems and notes in words.
#pragma once

#include <string>

#include "findings.h"

std::wstring TextReport(const Report& report);

// A problem or a note in words. For a person (`forPerson`) texts from the install are bounded and
// escaped as <U+XXXX>; otherwise they are bounded but left as they are, for a JSON string.
std::wstring ProblemText(const Report& report, const Problem& problem, bool forPerson);
std::wstring NoteText(const Note& note);
// Why the programs refuse a value, in words; empty when they accept it.
std::wstring RefusalText(const ValueCheck& value, bool revision, bool forPerson);
// A leftover's reason, in words.
std::wstring LeftoverText(const Leftover& leftover, bool forPerson);

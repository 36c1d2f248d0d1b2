// Showing text that comes from an install (paths, relinfo.xml values, shortcut fields): for a
// person on a terminal, and inside a JSON string. Pure functions of their arguments.
#pragma once

#include <string>

// Whether the code point would not reach a terminal as a visible character of its own: controls
// (C0, DEL, C1), line and paragraph separators, every default-ignorable and format code point
// (soft hyphen, joiners, bidirectional controls, Hangul fillers, variation selectors, tags, ...),
// spaces other than U+0020, noncharacters U+FFFE and U+FFFF, and surrogate halves.
bool IsHiddenCodePoint(char32_t c);

// `text` for a person: cut to `limit` UTF-16 units (never between the halves of a pair), every
// hidden code point, lone surrogate half, < and " written as <U+XXXX>, so that the notation
// stays unambiguous. A longer text ends in "...(N more characters)".
std::wstring EscapeForPerson(const std::wstring& text, size_t limit);

// `text` as the content of a JSON string, whole: " \ and every code unit outside printable
// ASCII escaped as JSON has it (\uXXXX, a pair as two escapes), so the output is plain ASCII. A
// lone surrogate half, which strict parsers refuse, is written as U+FFFD.
std::wstring EscapeForJson(const std::wstring& text);

// `text` cut to at most `limit` UTF-16 units, never between the halves of a pair; *cut tells
// whether anything was left off.
std::wstring CutText(const std::wstring& text, size_t limit, bool* cut);

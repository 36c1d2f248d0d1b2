#include "escape.h"

#include <cwchar>

namespace {

struct Range {
    char32_t first;
    char32_t last;
};

// Controls, separators, default-ignorable and format code points, and spaces that look like
// U+0020, in order.
constexpr Range kHidden[] = {
    {0x0000, 0x001F},   {0x007F, 0x00A0},   {0x00AD, 0x00AD},   {0x034F, 0x034F},
    {0x0600, 0x0605},   {0x061C, 0x061C},   {0x06DD, 0x06DD},   {0x070F, 0x070F},
    {0x0890, 0x0891},   {0x08E2, 0x08E2},   {0x115F, 0x1160},   {0x1680, 0x1680},
    {0x17B4, 0x17B5},   {0x180B, 0x180F},   {0x2000, 0x200F},   {0x2028, 0x202F},
    {0x205F, 0x206F},   {0x3000, 0x3000},   {0x3164, 0x3164},   {0xD800, 0xDFFF},
    {0xFE00, 0xFE0F},   {0xFEFF, 0xFEFF},   {0xFFA0, 0xFFA0},   {0xFFF0, 0xFFFB},
    {0xFFFE, 0xFFFF},   {0x110BD, 0x110BD}, {0x110CD, 0x110CD}, {0x13430, 0x1343F},
    {0x1BCA0, 0x1BCA3}, {0x1D173, 0x1D17A}, {0xE0000, 0xE0FFF},
};

bool IsHigh(wchar_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
bool IsLow(wchar_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

// The code point at text[i] and how many units it takes: 2 for a pair, else 1 (a lone half is
// its own code point).
char32_t CodePointAt(const std::wstring& text, size_t i, size_t* units) {
    wchar_t c = text[i];
    if (IsHigh(c) && i + 1 < text.size() && IsLow(text[i + 1])) {
        *units = 2;
        return 0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) + (text[i + 1] - 0xDC00);
    }
    *units = 1;
    return c;
}

std::wstring PersonCode(char32_t c) {
    wchar_t code[16];
    swprintf(code, 16, L"<U+%04X>", static_cast<unsigned>(c));
    return code;
}

std::wstring JsonCode(wchar_t c) {
    wchar_t code[8];
    swprintf(code, 8, L"\\u%04x", static_cast<unsigned>(c));
    return code;
}

}  // namespace

bool IsHiddenCodePoint(char32_t c) {
    for (const Range& range : kHidden) {
        if (c < range.first) return false;
        if (c <= range.last) return true;
    }
    return false;
}

std::wstring CutText(const std::wstring& text, size_t limit, bool* cut) {
    size_t end = 0;
    while (end < text.size()) {
        size_t units = 0;
        CodePointAt(text, end, &units);
        if (end + units > limit) break;
        end += units;
    }
    *cut = end < text.size();
    return text.substr(0, end);
}

std::wstring EscapeForPerson(const std::wstring& text, size_t limit) {
    bool cut = false;
    std::wstring kept = CutText(text, limit, &cut);
    std::wstring out;
    for (size_t i = 0; i < kept.size();) {
        size_t units = 0;
        char32_t c = CodePointAt(kept, i, &units);
        if (IsHiddenCodePoint(c) || c == U'<' || c == U'"') {
            out += PersonCode(c);
        } else {
            out.append(kept, i, units);
        }
        i += units;
    }
    if (cut) out += L"...(" + std::to_wstring(text.size() - kept.size()) + L" more characters)";
    return out;
}

std::wstring EscapeForJson(const std::wstring& text) {
    std::wstring out;
    for (size_t i = 0; i < text.size(); ++i) {
        wchar_t c = text[i];
        if (c == L'"' || c == L'\\') {
            out += L'\\';
            out += c;
        } else if (c >= 0x20 && c < 0x7F) {
            out += c;
        } else if (IsHigh(c) && i + 1 < text.size() && IsLow(text[i + 1])) {
            out += JsonCode(c) + JsonCode(text[i + 1]);
            ++i;
        } else {
            out += JsonCode(IsHigh(c) || IsLow(c) ? 0xFFFD : c);
        }
    }
    return out;
}

// Text conversions. wchar_t is UTF-16 on Windows and UTF-32 elsewhere; the
// platform layer always speaks UTF-16 and files and pipes get UTF-8.
#include <cstdint>
#include <string>

#include "IxFwUpdate/os.h"

namespace ix::fw::os {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Next code point of a wide string; unpaired surrogates become U+FFFD.
char32_t nextCodePoint(const wchar_t *text, size_t length, size_t &i) {
    char32_t c = char32_t(text[i++]);
    if constexpr (sizeof(wchar_t) == 2) {
        c &= 0xFFFF;
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i < length) {
                char32_t low = char32_t(text[i]) & 0xFFFF;
                if (low >= 0xDC00 && low <= 0xDFFF) {
                    ++i;
                    return 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                }
            }
            return kReplacement;
        }
        if (c >= 0xDC00 && c <= 0xDFFF) return kReplacement;
        return c;
    } else {
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return kReplacement;
        return c;
    }
}

void appendWide(std::wstring &out, char32_t c) {
    if constexpr (sizeof(wchar_t) == 2) {
        if (c >= 0x10000) {
            c -= 0x10000;
            out.push_back(wchar_t(0xD800 + (c >> 10)));
            out.push_back(wchar_t(0xDC00 + (c & 0x3FF)));
            return;
        }
    }
    out.push_back(wchar_t(c));
}

} // namespace

std::wstring fromUtf16(const std::u16string &text) {
    std::wstring out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        char32_t c = text[i++];
        if (c >= 0xD800 && c <= 0xDBFF && i < text.size() && text[i] >= 0xDC00 && text[i] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (char32_t(text[i++]) - 0xDC00);
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = kReplacement;
        }
        appendWide(out, c);
    }
    return out;
}

std::string toUtf8(const wchar_t *text, size_t length) {
    std::string out;
    out.reserve(length);
    for (size_t i = 0; i < length;) {
        char32_t c = nextCodePoint(text, length, i);
        if (c < 0x80) {
            out.push_back(char(c));
        } else if (c < 0x800) {
            out.push_back(char(0xC0 | (c >> 6)));
            out.push_back(char(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(char(0xE0 | (c >> 12)));
            out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(char(0x80 | (c & 0x3F)));
        } else {
            out.push_back(char(0xF0 | (c >> 18)));
            out.push_back(char(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(char(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

std::wstring fromUtf8(const char *text) {
    std::wstring out;
    const auto *s = reinterpret_cast<const unsigned char *>(text);
    while (*s) {
        unsigned char b = *s;
        char32_t c;
        int extra;
        if (b < 0x80) { c = b; extra = 0; }
        else if ((b & 0xE0) == 0xC0) { c = b & 0x1F; extra = 1; }
        else if ((b & 0xF0) == 0xE0) { c = b & 0x0F; extra = 2; }
        else if ((b & 0xF8) == 0xF0) { c = b & 0x07; extra = 3; }
        else { appendWide(out, kReplacement); ++s; continue; }
        ++s;
        bool ok = true;
        for (int k = 0; k < extra; ++k) {
            if ((*s & 0xC0) != 0x80) { ok = false; break; }
            c = (c << 6) | (*s & 0x3F);
            ++s;
        }
        static const char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
        if (!ok || c < kMin[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = kReplacement;
        appendWide(out, c);
    }
    return out;
}

} // namespace ix::fw::os

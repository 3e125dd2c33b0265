// Device strings for callers that want the process's own multibyte encoding.
#include <climits>
#include <cwchar>

#include "library/controls/tables.h"

namespace ix {
namespace {
// The device strings are short; longer input is cut here.
constexpr size_t kMaxUnits = 512;
} // namespace

bool narrowText(const char16_t *text, size_t length, std::string &out) {
    out.clear();
    if (!text) return length == 0;
    if (length > kMaxUnits) length = kMaxUnits;
    std::mbstate_t state{};
    char bytes[2 * MB_LEN_MAX];
    for (size_t i = 0; i < length; ++i) {
        char32_t cp = text[i];
        bool high = cp >= 0xD800 && cp <= 0xDBFF, low = cp >= 0xDC00 && cp <= 0xDFFF;
        if (low) return false; // a lone trail surrogate is not text
        if (high) {
            if (i + 1 >= length || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) return false;
            cp = 0x10000 + ((cp - 0xD800) << 10) + (char32_t(text[i + 1]) - 0xDC00);
        }
        size_t n;
        if constexpr (sizeof(wchar_t) >= 4) {
            n = std::wcrtomb(bytes, wchar_t(cp), &state);
        } else {
            // 16-bit wchar_t is UTF-16: hand over the pair as it stands.
            n = std::wcrtomb(bytes, wchar_t(text[i]), &state);
            if (n != size_t(-1) && high) {
                size_t m = std::wcrtomb(bytes + n, wchar_t(text[i + 1]), &state);
                n = m == size_t(-1) ? m : n + m;
            }
        }
        if (n == size_t(-1)) return false;
        out.append(bytes, n);
        if (high) ++i;
    }
    return true;
}

} // namespace ix

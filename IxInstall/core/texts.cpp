#include "core/texts.h"

#include "core/package.h"

namespace ix::installer::text {

std::wstring WithProductName(const wchar_t *pattern) {
    std::wstring out;
    for (const wchar_t *p = pattern; *p; ++p) {
        if (p[0] == L'%' && p[1] == L's') {
            out += kPackageConfiguration.productDisplayName;
            ++p;
        } else {
            out += *p;
        }
    }
    return out;
}

} // namespace ix::installer::text

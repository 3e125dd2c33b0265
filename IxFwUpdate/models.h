// The camera models the tool can update, keyed by USB product id.
#pragma once
#include <cstddef>

#include "platform/usb.h"

namespace ix::fw {

struct CameraModel {
    const wchar_t *pids[2];   // product ids as four hex digits; unused slot null
    const wchar_t *name;
    // Each model's driver package registers its camera under its own class.
    platform::Guid interfaceClass;
};

extern const CameraModel kModels[];
extern const size_t kModelCount;

// First row one of whose ids equals the first four characters of `pid`,
// ignoring case; null when none does.
const CameraModel *findModel(const wchar_t *pid);

} // namespace ix::fw

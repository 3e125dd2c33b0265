#include "library/core/open_close.h"
#include "library/core/positioning.h"

namespace ix {

PositioningHistory &positioningHistory() {
    static PositioningHistory history;
    return history;
}

void ClearPositioningHistory() {
    PositioningHistory &h = positioningHistory();
    h = PositioningHistory{};
    h.startupSkip = 3;
}

} // namespace ix

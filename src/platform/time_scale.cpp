#include "platform/time_scale.h"

#include <algorithm>
#include <cmath>

namespace kestrel {

int ScaledMs(int ms, double timeScale) {
    const double scaled = std::round(ms * timeScale);
    return scaled < 1.0 ? 1 : static_cast<int>(std::min(scaled, 2.0e9));
}

}  // namespace kestrel

#include "history/temperature_warning.h"

#include <cstdio>

namespace kestrel {

unsigned ReadWarningTemperature(const RegistryKey& key) {
    const int value = key.ReadInteger(kWarningTemperatureValue).value_or(0);
    return value > 0 && value <= static_cast<int>(kWarningTemperatureMax) ? static_cast<unsigned>(value) : 0;
}

std::string WarningLine(int slot, double mean, unsigned limit, bool started) {
    char text[160];
    if (started)
        std::snprintf(text, sizeof text, "D%d Temperature warning: %.1f \u00b0C over a minute, above %u \u00b0C, ",
                      slot + 1, mean, limit);
    else
        std::snprintf(text, sizeof text, "D%d Temperature warning ended: %.1f \u00b0C over a minute, %u \u00b0C or below, ",
                      slot + 1, mean, limit);
    return text;
}

}  // namespace kestrel

#include "history/history_rows.h"

namespace kestrel {

const char* StateName(int state) {
    // The order of HealthState: the worst of several is the greatest.
    static const char* const kNames[] = {"normal",     "scanning",    "degraded", "rebuilding",
                                         "fan failure", "over-heated", "failed",   "gone"};
    return state >= 0 && state < 8 ? kNames[state] : "unknown";
}

std::string EventKindOf(const std::string& line) {
    auto has = [&line](const char* text) { return line.find(text) != std::string::npos; };
    if (has("Temperature warning") || has("Fan") || has("fan") || has("emperature") || has("heat")) return "alarm";
    if (has("Bad Sector") || has("LBA:")) return "bad-sector";
    if (has("%,") || (!line.empty() && line.back() == '%')) return "progress";
    if (has(" Scan ")) return "scan";
    if (has("-->") || has("HDD1 OK, HDD2 OK")) return "rebuild";
    if (has(" was removed") || has(" was inserted") || has(" was initialized") || has(" was failed")) return "disk";
    if (has("irmware")) return "upgrade";
    if (has("Device") || has("nclosure")) return "enclosure";
    return "other";
}

}  // namespace kestrel

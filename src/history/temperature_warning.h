#pragma once
// The user's own warning temperature, below the controller's over-heat
// limit: where it is kept and the day-log lines of an episode. The episodes
// themselves are found by the history's minute means (history_recorder.h).
#include <string>

#include "platform/registry_key.h"

namespace kestrel {

// In the settings file beside the mail settings: degrees Celsius, 0 or
// absent = off.
inline constexpr char kWarningTemperatureValue[] = "WarningTemperature";
inline constexpr unsigned kWarningTemperatureMax = 99;

// 0 when off or out of range.
unsigned ReadWarningTemperature(const RegistryKey& key);
// "D1 Temperature warning: 52.3 °C over a minute, above 50 °C, " (the log
// adds its timestamp), or its end.
std::string WarningLine(int slot, double mean, unsigned limit, bool started);

}  // namespace kestrel

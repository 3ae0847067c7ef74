#include "platform/device_io.h"

#include <charconv>

namespace kestrel {

namespace {
constexpr const char* kPhysicalPrefix = "\\\\.\\PhysicalDrive";
constexpr const char* kVolumePrefix = "\\\\.\\";
}  // namespace

std::string PhysicalDrivePath(unsigned number) { return kPhysicalPrefix + std::to_string(number); }

std::string VolumePath(char letter) { return std::string(kVolumePrefix) + letter + ':'; }

bool ParsePhysicalDrivePath(const std::string& path, unsigned& number) {
    const std::string prefix = kPhysicalPrefix;
    if (path.size() <= prefix.size() || path.compare(0, prefix.size(), prefix) != 0) return false;
    const char* first = path.data() + prefix.size();
    const char* last = path.data() + path.size();
    if (*first < '0' || *first > '9') return false;
    const auto [end, ec] = std::from_chars(first, last, number);
    return ec == std::errc() && end == last;
}

bool ParseVolumePath(const std::string& path, char& letter) {
    const std::string prefix = kVolumePrefix;
    if (path.size() != prefix.size() + 2 || path.compare(0, prefix.size(), prefix) != 0) return false;
    if (path.back() != ':') return false;
    const char c = path[prefix.size()];
    if (c < 'A' || c > 'Z') return false;
    letter = c;
    return true;
}

char RootPathLetter(const std::string& rootPath) {
    if (rootPath.size() != 3 || rootPath[1] != ':' || rootPath[2] != '\\') return 0;
    return rootPath[0] >= 'A' && rootPath[0] <= 'Z' ? rootPath[0] : 0;
}

}  // namespace kestrel

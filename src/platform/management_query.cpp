#include "platform/management_query.h"

namespace kestrel {

std::optional<HostProperty> HostPropertyFor(std::string_view className, std::string_view propertyName) {
    if (className == "Win32_BaseBoard") {
        if (propertyName == "Manufacturer") return HostProperty::BoardVendor;
        if (propertyName == "Product") return HostProperty::BoardName;
    } else if (className == "Win32_Bus") {
        if (propertyName == "SystemName") return HostProperty::SystemName;
    } else if (className == "Win32_NetworkAdapterConfiguration") {
        if (propertyName == "IPAddress") return HostProperty::IpAddresses;
    }
    return std::nullopt;
}

std::string CleanPropertyText(std::string_view raw) {
    std::string text;
    text.reserve(raw.size());
    for (char c : raw) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7F) text += c;
    }
    const size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    const size_t last = text.find_last_not_of(' ');
    return text.substr(first, last - first + 1);
}

std::string JoinAddresses(const std::vector<std::string>& addresses) {
    std::string joined;
    for (const std::string& address : addresses) {
        if (address.empty()) continue;
        if (!joined.empty()) joined += ", ";
        joined += address;
    }
    return joined;
}

}  // namespace kestrel

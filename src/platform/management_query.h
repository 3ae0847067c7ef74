#pragma once
// Answers the few questions about the host PC that the system information
// asks, named by management class and property ("Win32_BaseBoard",
// "Manufacturer"). The simulated PC answers from its scenario, Linux from
// firmware tables, the host name and the network adapters.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel {

class ManagementQuery {
public:
    virtual ~ManagementQuery() = default;
    // The property's value as text; the empty text when it cannot be read or
    // the class or property is not one this platform knows.
    virtual std::string QueryManagementProperty(const std::string& className,
                                                const std::string& propertyName) const = 0;
};

// The host facts behind the class and property names that are answered.
enum class HostProperty { BoardVendor, BoardName, SystemName, IpAddresses };

// Which fact a class and property name ask for; nothing for any other pair.
std::optional<HostProperty> HostPropertyFor(std::string_view className, std::string_view propertyName);

// Text fit for one line: control characters dropped, surrounding blanks
// trimmed. Firmware strings often end in a line feed or are padded.
std::string CleanPropertyText(std::string_view raw);

// An adapter's addresses as one value, in the adapter's order.
std::string JoinAddresses(const std::vector<std::string>& addresses);

}  // namespace kestrel

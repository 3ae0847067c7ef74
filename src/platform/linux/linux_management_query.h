#pragma once
// The host's answers on Linux: the board vendor and name the firmware reports
// (sysfs DMI), the host name, and the addresses of the first network adapter
// that has any.
#include <string>
#include <vector>

#include "platform/management_query.h"

namespace kestrel::linuxio {

struct NetworkAdapter {
    bool loopback = false;
    std::vector<std::string> addresses;  // in the adapter's own order
};

// The adapters as the system lists them, each address as plain text (an IPv6
// address without its zone suffix).
std::vector<NetworkAdapter> SystemNetworkAdapters();

// The joined addresses of the first adapter, loopback excluded, that has any;
// the empty text when none has.
std::string FirstAdapterAddresses(const std::vector<NetworkAdapter>& adapters);

class LinuxManagementQuery final : public ManagementQuery {
public:
    // dmiDirectory: where board_vendor and board_name are read.
    explicit LinuxManagementQuery(std::string dmiDirectory = "/sys/class/dmi/id");

    std::string QueryManagementProperty(const std::string& className,
                                        const std::string& propertyName) const override;

private:
    std::string ReadDmi(const char* name) const;

    std::string dmiDirectory_;
};

}  // namespace kestrel::linuxio

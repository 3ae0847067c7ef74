#include "platform/linux/linux_management_query.h"

#include <QFile>
#include <QHostAddress>
#include <QNetworkInterface>
#include <QSysInfo>

namespace kestrel::linuxio {
namespace {

// DMI strings are short; anything longer than this is not a board name.
constexpr qint64 kDmiReadLimit = 4096;

}  // namespace

std::vector<NetworkAdapter> SystemNetworkAdapters() {
    std::vector<NetworkAdapter> adapters;
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface& interface : interfaces) {
        NetworkAdapter adapter;
        adapter.loopback = interface.flags().testFlag(QNetworkInterface::IsLoopBack);
        for (const QNetworkAddressEntry& entry : interface.addressEntries()) {
            QHostAddress address = entry.ip();
            if (address.isNull()) continue;
            // The zone ("%eth0") names the adapter, which the line already implies.
            address.setScopeId(QString());
            adapter.addresses.push_back(address.toString().toStdString());
        }
        adapters.push_back(std::move(adapter));
    }
    return adapters;
}

std::string FirstAdapterAddresses(const std::vector<NetworkAdapter>& adapters) {
    for (const NetworkAdapter& adapter : adapters) {
        if (adapter.loopback) continue;
        const std::string joined = JoinAddresses(adapter.addresses);
        if (!joined.empty()) return joined;
    }
    return {};
}

LinuxManagementQuery::LinuxManagementQuery(std::string dmiDirectory) : dmiDirectory_(std::move(dmiDirectory)) {}

std::string LinuxManagementQuery::QueryManagementProperty(const std::string& className,
                                                          const std::string& propertyName) const {
    const std::optional<HostProperty> property = HostPropertyFor(className, propertyName);
    if (!property) return {};
    switch (*property) {
    case HostProperty::BoardVendor:
        return ReadDmi("board_vendor");
    case HostProperty::BoardName:
        return ReadDmi("board_name");
    case HostProperty::SystemName:  // the kernel takes any bytes as a host name
        return CleanPropertyText(QSysInfo::machineHostName().toStdString());
    case HostProperty::IpAddresses:
        return FirstAdapterAddresses(SystemNetworkAdapters());
    }
    return {};
}

std::string LinuxManagementQuery::ReadDmi(const char* name) const {
    QFile file(QString::fromStdString(dmiDirectory_ + "/" + name));
    if (!file.open(QIODevice::ReadOnly)) return {};
    const QByteArray bytes = file.read(kDmiReadLimit);
    return CleanPropertyText(std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())));
}

}  // namespace kestrel::linuxio

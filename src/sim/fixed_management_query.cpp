#include "sim/fixed_management_query.h"

namespace kestrel::sim {

FixedManagementQuery::FixedManagementQuery(const HostAnswers& answers) {
    // A scenario value could carry a line break; each answer must stay on its line.
    answers_.boardVendor = CleanPropertyText(answers.boardVendor);
    answers_.boardName = CleanPropertyText(answers.boardName);
    answers_.systemName = CleanPropertyText(answers.systemName);
    for (const std::string& address : answers.ipAddresses) answers_.ipAddresses.push_back(CleanPropertyText(address));
}

std::string FixedManagementQuery::QueryManagementProperty(const std::string& className,
                                                          const std::string& propertyName) const {
    const std::optional<HostProperty> property = HostPropertyFor(className, propertyName);
    if (!property) return {};
    switch (*property) {
    case HostProperty::BoardVendor:
        return answers_.boardVendor;
    case HostProperty::BoardName:
        return answers_.boardName;
    case HostProperty::SystemName:
        return answers_.systemName;
    case HostProperty::IpAddresses:
        return JoinAddresses(answers_.ipAddresses);
    }
    return {};
}

}  // namespace kestrel::sim

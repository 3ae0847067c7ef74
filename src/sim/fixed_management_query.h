#pragma once
// The simulated PC's answers: fixed values from the scenario, so that the
// system information reads the same on every run.
#include <string>
#include <vector>

#include "platform/management_query.h"

namespace kestrel::sim {

struct HostAnswers {
    std::string boardVendor;
    std::string boardName;
    std::string systemName;
    std::vector<std::string> ipAddresses;  // one adapter's, in its order
};

class FixedManagementQuery final : public ManagementQuery {
public:
    explicit FixedManagementQuery(const HostAnswers& answers);

    std::string QueryManagementProperty(const std::string& className,
                                        const std::string& propertyName) const override;

private:
    HostAnswers answers_;
};

}  // namespace kestrel::sim

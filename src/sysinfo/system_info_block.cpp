#include "sysinfo/system_info_block.h"

namespace kestrel {

std::string SystemInfoBlock::Joined() const {
    std::string joined;
    for (const std::string& line : lines) joined += line;
    return joined;
}

SystemInfoBlock BuildSystemInfoBlock(const ManagementQuery& query) {
    SystemInfoBlock block;
    block.lines[0] = "\n=========== [System Information] ==============";
    block.lines[1] = "\nMotherBoard : " + query.QueryManagementProperty("Win32_BaseBoard", "Manufacturer") + " - " +
                     query.QueryManagementProperty("Win32_BaseBoard", "Product");
    block.lines[2] = "\nSystem Name : " + query.QueryManagementProperty("Win32_Bus", "SystemName");
    block.lines[3] = "\nIP Address  : " + query.QueryManagementProperty("Win32_NetworkAdapterConfiguration", "IPAddress");
    block.lines[4] = "\n" + std::string(47, '=');
    return block;
}

void ShowSystemInfo(MessageBoxes& messages, const SystemInfoBlock& block) {
    messages.Show(block.Joined(), "System Information", MessageButtons::Ok);
}

}  // namespace kestrel

#pragma once
// Five lines about the host PC, gathered once at start-up, shown from the
// status bar and appended to every alert mail. Each line begins with a line
// feed so that the lines, joined or listed, each start on a new line.
#include <array>
#include <string>

#include "platform/management_query.h"
#include "platform/user_interface.h"

namespace kestrel {

struct SystemInfoBlock {
    std::array<std::string, 5> lines;

    // The lines one after the other, without separators.
    std::string Joined() const;
};

SystemInfoBlock BuildSystemInfoBlock(const ManagementQuery& query);

// The status bar's double click: the block in one message box.
void ShowSystemInfo(MessageBoxes& messages, const SystemInfoBlock& block);

}  // namespace kestrel

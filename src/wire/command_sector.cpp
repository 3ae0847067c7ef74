#include "wire/command_sector.h"

#include "wire/byte_order.h"

namespace kestrel {

uint16_t CommandChecksum(const Block512& sector) {
    uint16_t sum = 0;
    for (size_t i = command::kData; i < command::kChecksum; ++i) sum = static_cast<uint16_t>(sum + sector[i]);
    return sum;
}

bool IsValidCommandSector(const Block512& sector) {
    return sector[0] == '3' && sector[1] == 'X' && kestrel::bytes::GetLe16(sector.data() + command::kChecksum) == CommandChecksum(sector);
}

void CommandSector::SetAddress(uint32_t address) { kestrel::bytes::PutBe24(bytes.data() + command::kAddress, address); }

void CommandSector::Seal() {
    bytes[0] = '3';
    bytes[1] = 'X';
    kestrel::bytes::PutLe16(bytes.data() + command::kChecksum, CommandChecksum(bytes));
}

}  // namespace kestrel

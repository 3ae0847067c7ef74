#pragma once
// The tests of the layers above detection set their enclosure lists by
// hand; this admits their drives for writes as a detection that proved
// them would, with a status record that passes the record checks.
#include <initializer_list>

#include "device/transport.h"

namespace kestrel::testing {

inline Block512 PlausibleStatusRecord() {
    Block512 record{};
    record[1] = 0xA0;
    const char maker[] = "VOLTRA";
    std::copy(maker, maker + 7, record.begin() + 114);
    return record;
}

inline void AdmitDrives(Transport& transport, std::initializer_list<unsigned> drives) {
    for (unsigned drive : drives) {
        EnclosureEvidence evidence;
        evidence.flags = drive | access::kBridgeCdb;
        evidence.status = PlausibleStatusRecord();
        transport.Admit(drive, evidence);
    }
}

inline void AdmitAllDrives(Transport& transport) {
    AdmitDrives(transport, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9});
}

}  // namespace kestrel::testing

#pragma once
// The last state of each enclosure seen, by its identity (model and serial
// of its controller, not the slot it happens to be in), kept in the state
// folder: what a start, or a plug-in, compares the enclosure with to find
// what changed while nobody watched it.
#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "wire/drive_table.h"

namespace kestrel {

struct KnownState {
    uint8_t diskState = 0;
    uint8_t envFlags = 0;  // as last evaluated (valid sensors only)
};

// "KESTREL DUAL RAID/KSIM100002": the controller's model and serial.
std::string EnclosureIdentity(const Block512& identify);

class KnownEnclosures {
public:
    // path: the file; empty keeps everything in memory.
    explicit KnownEnclosures(std::string path = {});

    std::optional<KnownState> Find(const std::string& identity);
    // Remembers; the file is replaced when anything changed. Returns "" or
    // why it could not be written.
    std::string Update(const std::string& identity, KnownState state);

private:
    void Load();

    std::string path_;
    bool loaded_ = false;
    std::map<std::string, KnownState> known_;
};

}  // namespace kestrel

#pragma once
// Stands in for the registry key that holds the e-mail settings. The key is
// one section of an INI file, its values keep their registry names, so the
// file reads like the key. The file is private to the user (0600): it holds
// the scrambled SMTP password.
//
// Writes collect in memory and reach the file with Flush(), atomically, all
// at once; a failed flush keeps them for the next one unless discarded.
// Reads come from the copy taken by Open() or Reload().
//
// A flush never writes through a symbolic link, never changes the owner of
// the file, and refuses a file it could not write back unchanged: one that
// is damaged, or holds text that is not UTF-8.
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <QVariant>

namespace kestrel {

class RegistryKey {
public:
    enum class Presence { Absent, Present, Unreadable };

    static constexpr const char* kDefaultKeyName = "KESTREL_RAID_GUI";

    // file: the INI file (empty: DefaultFile()); keyName: its section.
    explicit RegistryKey(const std::string& file, std::string keyName = kDefaultKeyName);
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;
    ~RegistryKey();

    // The user's configuration directory + "/kestrel/kestrel-raid-gui.ini".
    static std::string DefaultFile();

    const std::string& Path() const { return path_; }
    // The folder that holds the file, with a trailing separator.
    std::string Directory() const;

    // Does the key exist? A file without the section, or an empty one, holds
    // no key; a file that cannot be read or parsed is Unreadable.
    Presence Probe() const;

    // Opens the key; with create, a missing file is created (0600, and its
    // folder 0700 when that is missing too). False when the file is missing
    // and create is off, or cannot be created or read: see Error().
    bool Open(bool create);
    bool IsOpen() const { return open_; }
    // Re-reads the file, keeping writes not yet flushed. False when the file
    // cannot be read; the previous copy stays.
    bool Reload();
    // Flushes, then forgets the key. False when the flush failed.
    bool Close();

    std::vector<std::string> ValueNames() const;
    std::optional<std::string> ReadString(const std::string& name) const;
    // A 32-bit integer in decimal; a negative number reads as its two's
    // complement. Anything else (text, out of range, binary) reads as absent.
    std::optional<int32_t> ReadInteger(const std::string& name) const;
    std::optional<std::vector<uint8_t>> ReadBinary(const std::string& name) const;

    // False only when the key is not open.
    bool WriteString(const std::string& name, const std::string& value);
    bool WriteInteger(const std::string& name, uint32_t value);
    bool WriteBinary(const std::string& name, const std::vector<uint8_t>& value);

    // Writes every pending value into the file in one atomic replacement and
    // makes the file 0600. True when nothing was pending.
    bool Flush();
    bool HasPendingWrites() const { return !pending_.empty(); }
    // Forgets the writes not yet flushed: reads give the values from before.
    void DiscardPendingWrites();

    // Why the last Open, Reload or Flush failed.
    const std::string& Error() const { return error_; }

private:
    bool Write(const std::string& name, QVariant value);
    bool Fail(const std::string& why);
    bool CreatePrivateFile();

    std::string path_;
    std::string keyName_;
    bool open_ = false;
    std::map<std::string, QVariant> values_;
    std::set<std::string> pending_;
    std::map<std::string, std::optional<QVariant>> before_;  // of the pending names
    std::string error_;
};

}  // namespace kestrel

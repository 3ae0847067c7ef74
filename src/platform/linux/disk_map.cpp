#include "platform/linux/disk_map.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

namespace kestrel::linuxio {

namespace fs = std::filesystem;

namespace {

constexpr size_t kMaxLetters = 24;

std::string ReadWord(const fs::path& file) {
    std::ifstream in(file);
    std::string word;
    in >> word;
    return word;
}

uint64_t ReadNumber(const fs::path& file) {
    std::ifstream in(file);
    uint64_t value = 0;
    in >> value;
    return in ? value : 0;
}

bool Excluded(const std::string& name) {
    static const char* const kPrefixes[] = {"loop", "ram", "zram", "dm-", "md", "sr", "fd", "nbd"};
    for (const char* p : kPrefixes)
        if (name.rfind(p, 0) == 0) return true;
    return false;
}

// The device name a mount source refers to: the target of a /dev link
// inside the root when there is one, else the source's last component.
std::string DeviceName(const std::string& root, const std::string& source) {
    std::error_code ec;
    const fs::path inRoot = fs::path(root) / fs::path(source).relative_path();
    const fs::path resolved = fs::weakly_canonical(inRoot, ec);
    return (ec ? fs::path(source) : resolved).filename().string();
}

// The sg node under the disk's device: device/scsi_generic/<sgN>.
std::string GenericNode(const fs::path& disk) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(disk / "device/scsi_generic", ec))
        return entry.path().filename().string();
    return {};
}

}  // namespace

std::vector<WholeDisk> DriveNumbers::Update(std::vector<WholeDisk> disks) {
    std::array<bool, kCount> present{};
    for (WholeDisk& d : disks)
        for (unsigned n = 0; n < kCount; ++n)
            if (!holders_[n].empty() && holders_[n] == d.identity) present[n] = true;
    for (unsigned n = 0; n < kCount; ++n)
        if (!present[n]) holders_[n].clear();
    std::vector<WholeDisk> numbered;
    for (WholeDisk& d : disks) {
        auto held = std::find(holders_.begin(), holders_.end(), d.identity);
        if (held == holders_.end()) held = std::find(holders_.begin(), holders_.end(), std::string());
        if (held == holders_.end()) continue;
        *held = d.identity;
        d.number = static_cast<unsigned>(held - holders_.begin());
        numbered.push_back(std::move(d));
    }
    return numbered;
}

std::string DiskMap::IdentityOf(const std::string& root, const std::string& name) {
    const fs::path disk = fs::path(root) / "sys/block" / name;
    std::error_code ec;
    if (!fs::exists(disk / "device", ec)) return {};
    return name + "|" + ReadWord(disk / "dev") + "|" + ReadWord(disk / "diskseq");
}

const WholeDisk* DiskMap::DiskNumbered(unsigned number) const {
    for (const WholeDisk& d : disks_)
        if (d.number == number) return &d;
    return nullptr;
}

bool DiskMap::DiskBefore(const std::string& a, const std::string& b) {
    const bool sdA = a.rfind("sd", 0) == 0, sdB = b.rfind("sd", 0) == 0;
    if (sdA != sdB) return sdA;
    if (a.size() != b.size()) return a.size() < b.size();
    return a < b;
}

DiskMap DiskMap::Scan(const std::string& root, DriveNumbers* numbers) {
    DiskMap map;
    std::error_code ec;
    const fs::path block = fs::path(root) / "sys/block";
    for (const auto& entry : fs::directory_iterator(block, ec)) {
        const std::string name = entry.path().filename().string();
        if (Excluded(name) || !fs::exists(entry.path() / "device", ec)) continue;
        map.disks_.push_back({name, ReadNumber(entry.path() / "removable") != 0, ReadNumber(entry.path() / "size"),
                              IdentityOf(root, name), GenericNode(entry.path()), 0});
    }
    std::sort(map.disks_.begin(), map.disks_.end(),
              [](const WholeDisk& a, const WholeDisk& b) { return DiskBefore(a.name, b.name); });
    if (numbers) {
        map.disks_ = numbers->Update(std::move(map.disks_));
    } else {
        if (map.disks_.size() > DriveNumbers::kCount) map.disks_.resize(DriveNumbers::kCount);
        for (unsigned d = 0; d < map.disks_.size(); ++d) map.disks_[d].number = d;
    }

    // Every partition (and every disk itself) by device name.
    std::map<std::string, MountedVolume> candidates;
    for (const WholeDisk& disk : map.disks_) {
        const unsigned d = disk.number;
        candidates[disk.name] = {0, disk.name, d, 0, disk.sectors * 512, disk.removable};
        for (const auto& part : fs::directory_iterator(block / disk.name, ec)) {
            if (!fs::exists(part.path() / "partition", ec)) continue;
            const std::string name = part.path().filename().string();
            candidates[name] = {0, name, d, ReadNumber(part.path() / "start") * 512,
                                ReadNumber(part.path() / "size") * 512, disk.removable};
        }
    }

    std::ifstream mounts(fs::path(root) / "proc/mounts");
    std::string line;
    std::vector<MountedVolume> mounted;
    while (std::getline(mounts, line)) {
        std::istringstream fields(line);
        std::string source;
        fields >> source;
        if (source.rfind("/dev/", 0) != 0) continue;
        const auto it = candidates.find(DeviceName(root, source));
        if (it == candidates.end()) continue;
        const bool seen = std::any_of(mounted.begin(), mounted.end(),
                                      [&](const MountedVolume& v) { return v.device == it->second.device; });
        if (!seen) mounted.push_back(it->second);
    }
    std::sort(mounted.begin(), mounted.end(), [](const MountedVolume& a, const MountedVolume& b) {
        return a.disk != b.disk ? a.disk < b.disk : a.startBytes < b.startBytes;
    });
    for (size_t i = 0; i < mounted.size() && i < kMaxLetters; ++i) {
        mounted[i].letter = static_cast<char>('C' + i);
        map.volumes_.push_back(mounted[i]);
    }
    return map;
}

const MountedVolume* DiskMap::VolumeOf(char letter) const {
    for (const MountedVolume& v : volumes_)
        if (v.letter == letter) return &v;
    return nullptr;
}

}  // namespace kestrel::linuxio

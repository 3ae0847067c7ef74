// The include rules between the subsystem folders: each folder may include
// its own headers and those of the folders listed for it, nothing else, so
// the layers keep one direction.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>

namespace {

namespace fs = std::filesystem;

// Folder (relative to src/) -> folders it may include besides itself.
const std::map<std::string, std::set<std::string>>& AllowedIncludes() {
    static const std::map<std::string, std::set<std::string>> rules = {
        {"wire", {}},
        {"platform", {"wire"}},
        {"platform/linux", {"platform", "wire"}},
        {"sim", {"platform", "wire"}},
        {"device", {"platform", "wire"}},
        {"sysinfo", {"platform", "wire"}},
        {"monitor", {"device", "sysinfo", "platform", "wire"}},
        {"notify", {"device", "sysinfo", "platform", "wire"}},
        {"eventlog", {"notify", "device", "sysinfo", "platform", "wire"}},
        {"maintenance", {"monitor", "eventlog", "notify", "device", "sysinfo", "platform", "wire"}},
        {"app",
         {"maintenance", "monitor", "eventlog", "notify", "device", "sysinfo", "sim", "platform",
          "platform/linux", "wire"}},
    };
    return rules;
}

struct Violation {
    std::string file;
    std::string include;
};

std::vector<Violation> FindViolations(const fs::path& src, std::set<std::string>& unknownFolders) {
    std::vector<Violation> found;
    const std::regex projectInclude(R"(^\s*#\s*include\s*"([^"]+)\")");
    const std::regex systemInclude(R"(^\s*#\s*include\s*<([^>]+)>)");
    for (const auto& entry : fs::recursive_directory_iterator(src)) {
        if (!entry.is_regular_file()) continue;
        const std::string ext = entry.path().extension().string();
        if (ext != ".h" && ext != ".cpp") continue;
        const std::string file = fs::relative(entry.path(), src).generic_string();
        const std::string folder = fs::path(file).parent_path().generic_string();
        const auto rule = AllowedIncludes().find(folder);
        if (rule == AllowedIncludes().end()) {
            unknownFolders.insert(folder);
            continue;
        }
        std::ifstream in(entry.path());
        std::string line;
        std::smatch m;
        while (std::getline(in, line)) {
            if (std::regex_search(line, m, projectInclude)) {
                const std::string target = fs::path(m[1].str()).parent_path().generic_string();
                if (target != folder && !rule->second.count(target)) found.push_back({file, m[1].str()});
            } else if (folder == "wire" && std::regex_search(line, m, systemInclude) &&
                       (m[1].str().find('.') != std::string::npos || m[1].str()[0] == 'Q')) {
                // The wire format depends on the standard library alone.
                found.push_back({file, m[1].str()});
            }
        }
    }
    return found;
}

TEST(Layers, IncludesFollowTheLayerRules) {
    const fs::path src = fs::path(KESTREL_SOURCE_DIR) / "src";
    ASSERT_TRUE(fs::is_directory(src));
    std::set<std::string> unknownFolders;
    const std::vector<Violation> violations = FindViolations(src, unknownFolders);
    for (const Violation& v : violations) ADD_FAILURE() << v.file << " includes " << v.include;
    for (const std::string& f : unknownFolders)
        ADD_FAILURE() << "src/" << f << " has no layer rule: add it to the table";
}

}  // namespace

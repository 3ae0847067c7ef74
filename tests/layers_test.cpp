// The rules between the subsystem folders: each folder may include its own
// headers and those of the folders listed for it, nothing else, so the layers
// keep one direction; and each folder's library links exactly those
// folders' libraries, so the build holds the same rule.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

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
        {"history", {"monitor", "eventlog", "notify", "device", "sysinfo", "platform", "wire"}},
        {"app",
         {"history", "maintenance", "monitor", "eventlog", "notify", "device", "sysinfo", "sim", "platform",
          "platform/linux", "wire"}},
        {"gui",
         {"history", "maintenance", "monitor", "eventlog", "notify", "device", "sysinfo", "sim", "platform",
          "platform/linux", "wire"}},
        // The window programs' part of app: the widgets given the composition root.
        {"app/window",
         {"gui", "app", "history", "maintenance", "monitor", "eventlog", "notify", "device", "sysinfo", "sim",
          "platform", "platform/linux", "wire"}},
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

// The link graph the build wrote: target -> what it links (layer libraries,
// Qt modules, other libraries).
std::map<std::string, std::set<std::string>> BuiltLinks() {
    std::map<std::string, std::set<std::string>> links;
    std::ifstream in(KESTREL_LAYER_LINKS_FILE);
    std::string line;
    while (std::getline(in, line)) {
        const auto colon = line.find(": ");
        if (colon == std::string::npos) continue;
        std::set<std::string>& items = links[line.substr(0, colon)];
        std::stringstream rest(line.substr(colon + 2));
        std::string item;
        while (std::getline(rest, item, ';'))
            if (!item.empty()) items.insert(item);
    }
    return links;
}

std::string LayerTarget(std::string folder) {
    for (char& c : folder)
        if (c == '/') c = '_';
    return "kestrel_" + folder;
}

TEST(Layers, LibrariesLinkExactlyWhatTheLayerTableAllows) {
    const auto links = BuiltLinks();
    ASSERT_FALSE(links.empty()) << "no link graph in " << KESTREL_LAYER_LINKS_FILE;
    std::set<std::string> layerTargets;
    for (const auto& [folder, allowed] : AllowedIncludes()) layerTargets.insert(LayerTarget(folder));
    for (const auto& [folder, allowed] : AllowedIncludes()) {
        const auto built = links.find(LayerTarget(folder));
        ASSERT_NE(built, links.end()) << "no library for src/" << folder;
        std::set<std::string> expected;
        for (const std::string& f : allowed) expected.insert(LayerTarget(f));
        std::set<std::string> linkedLayers;
        for (const std::string& item : built->second)
            if (layerTargets.count(item)) linkedLayers.insert(item);
        EXPECT_EQ(linkedLayers, expected) << "src/" << folder;
        // Only the widgets use Qt Widgets and Qt Gui.
        if (folder != "gui") {
            EXPECT_FALSE(built->second.count("Qt6::Widgets")) << "src/" << folder << " links Qt Widgets";
            EXPECT_FALSE(built->second.count("Qt6::Gui")) << "src/" << folder << " links Qt Gui";
        }
    }
    for (const auto& [target, items] : links) {
        if (target.rfind("kestrel_", 0) == 0) {
            EXPECT_TRUE(layerTargets.count(target)) << target << " is a library with no row in the layer table";
        }
    }
}

TEST(Layers, TheMonitorProgramReachesNoWidgetLibrary) {
    const auto links = BuiltLinks();
    ASSERT_TRUE(links.count("kestrel-raid-monitor"));
    std::set<std::string> reached;
    std::function<void(const std::string&)> visit = [&](const std::string& target) {
        if (!reached.insert(target).second) return;
        const auto it = links.find(target);
        if (it != links.end())
            for (const std::string& item : it->second) visit(item);
    };
    visit("kestrel-raid-monitor");
    EXPECT_TRUE(reached.count("kestrel_app"));
    EXPECT_FALSE(reached.count("kestrel_gui"));
    EXPECT_FALSE(reached.count("Qt6::Widgets"));
    EXPECT_FALSE(reached.count("Qt6::Gui"));
    // The window programs are the same libraries with the widgets on top.
    for (const char* program : {"kestrel-raid-gui", "kestrel-hybrid-gui"})
        EXPECT_EQ(links.at(program), std::set<std::string>{"kestrel_app_window"}) << program;
}

}  // namespace

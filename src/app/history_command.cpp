#include "app/history_command.h"

#include "history/history_export.h"
#include "history/history_store.h"

namespace kestrel {

int RunHistoryCommand(const Options& options, std::FILE* out, std::FILE* err) {
    const std::string path = HistoryFilePath(options.stateDir);
    if (path.empty()) {
        std::fprintf(err, "No state folder: set XDG_STATE_HOME or HOME.\n");
        return 1;
    }
    HistoryStore store;
    if (!store.Open(path, HistoryStore::Mode::Read)) {
        std::fprintf(err, "No history to print: %s\n", store.Error().c_str());
        return 1;
    }
    HistoryQuery query;
    query.fromMs = options.historySinceMs;
    query.toMs = options.historyUntilMs;
    query.slot = options.historySlot - 1;
    const std::string text = ExportHistory(
        store, query, options.historyOutput == HistoryOutput::Json ? HistoryFormat::Json : HistoryFormat::Csv);
    if (!store.Error().empty()) {
        std::fprintf(err, "History not read from %s: %s\n", path.c_str(), store.Error().c_str());
        return 1;
    }
    if (std::fwrite(text.data(), 1, text.size(), out) != text.size() || std::fflush(out) != 0) return 1;
    return 0;
}

}  // namespace kestrel

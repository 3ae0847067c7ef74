#pragma once
// The stored rows as text for scripts: CSV (one table, readings and events,
// columns in docs/history.md) or JSON (docs/history.schema.json).
#include <cstdint>
#include <limits>
#include <string>

#include "history/history_store.h"

namespace kestrel {

enum class HistoryFormat { Csv, Json };

struct HistoryQuery {
    int64_t fromMs = std::numeric_limits<int64_t>::min();  // rows at or after
    int64_t toMs = std::numeric_limits<int64_t>::max();    // rows before
    int slot = -1;                                          // 0 = Device1; -1 any
};

// A time as the export writes it: local ISO 8601 with its offset.
std::string ExportTime(int64_t ms);

std::string ExportHistory(HistoryStore& store, const HistoryQuery& query, HistoryFormat format);

}  // namespace kestrel

#pragma once
// The history's SQLite file: the tables, the writes of a batch, the thinning
// of old rows and the reads of the export and the window. One object is one
// connection and is used on one thread only. Readers and the one writer may
// use the file at the same time (write-ahead log).
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "history/history_rows.h"

class QSqlQuery;
class QString;
class QVariant;

namespace kestrel {

// The file in the program's state folder.
std::string HistoryFilePath(const std::string& stateDir);

// The stored enclosure a key names: the same key, else (no controller
// serial) the same model sharing a disk serial, the latest seen; 0 for none.
int64_t FindEnclosure(const std::vector<StoredEnclosure>& stored, const EnclosureKey& key);

class HistoryStore {
public:
    enum class Mode { Write, Read };
    HistoryStore();
    ~HistoryStore();
    HistoryStore(const HistoryStore&) = delete;
    HistoryStore& operator=(const HistoryStore&) = delete;

    // Write creates the file and its tables when missing and checks what is
    // there; Read opens an existing file only. False with Error() set.
    [[nodiscard]] bool Open(const std::string& path, Mode mode);
    void Close();
    bool IsOpen() const { return open_; }
    const std::string& Error() const { return error_; }

    // One transaction: the enclosures named, the readings and events, then
    // at most once an hour of the batch's time the thinning.
    [[nodiscard]] bool Write(const HistoryBatch& batch);

    std::vector<StoredEnclosure> Enclosures();
    // Rows whose time lies in [fromMinute, toMinute); enclosureId 0: all.
    // slot -1: any.
    std::vector<ReadingRow> Readings(int64_t enclosureId, int64_t fromMinute, int64_t toMinute, int slot = -1);
    std::vector<EventRow> Events(int64_t enclosureId, int64_t fromMs, int64_t toMs, int slot = -1);

private:
    bool Exec(const char* sql);
    // Prepares sql on q, binds values in order and runs it; false with the
    // error kept.
    bool Run(QSqlQuery& q, const QString& sql, const std::vector<QVariant>& values);
    bool CreateTables();
    int64_t EnclosureId(const EnclosureKey& key, int slot, int64_t timeMs, std::vector<EventRow>& upgrades);
    bool Thin(int64_t nowMinute);

    std::string connection_;
    bool open_ = false;
    std::string error_;
    int64_t thinnedHour_ = -1;
    std::vector<StoredEnclosure> known_;  // the writer's cache of the enclosures table
};

}  // namespace kestrel

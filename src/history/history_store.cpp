#include "history/history_store.h"

#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace kestrel {

namespace {

// Minute rows and hour rows have the same columns; the minutes thinned to
// an hour move from one table to the other.
constexpr char kColumns[] =
    "(enclosure INTEGER NOT NULL, minute INTEGER NOT NULL, slot INTEGER NOT NULL, polls INTEGER NOT NULL, "
    "sensor_polls INTEGER NOT NULL, temp_min INTEGER, temp_max INTEGER, temp_mean10 INTEGER, fan_min INTEGER, "
    "fan_max INTEGER, fan_mean INTEGER, state INTEGER NOT NULL, PRIMARY KEY(enclosure, minute)) WITHOUT ROWID";

QVariant SensorValue(const ReadingRow& row, int value) {
    return row.HasSensors() ? QVariant(value) : QVariant(QMetaType(QMetaType::Int));
}

QString Q(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

int64_t FindEnclosure(const std::vector<StoredEnclosure>& stored, const EnclosureKey& key) {
    for (const StoredEnclosure& e : stored)
        if (e.key.SameAs(key)) return e.id;
    if (!key.serial.empty()) return 0;
    const StoredEnclosure* best = nullptr;
    for (const StoredEnclosure& e : stored) {
        if (e.key.model != key.model || !e.key.serial.empty()) continue;
        for (const std::string& s : key.serials)
            if (!s.empty() && (s == e.key.serials[0] || s == e.key.serials[1]) && (!best || e.lastMs > best->lastMs))
                best = &e;
    }
    return best ? best->id : 0;
}

std::string HistoryFilePath(const std::string& stateDir) {
    return stateDir.empty() ? std::string() : stateDir + "/history.sqlite";
}

HistoryStore::HistoryStore() : connection_("kestrel-history-" + std::to_string(reinterpret_cast<uintptr_t>(this))) {}

HistoryStore::~HistoryStore() { Close(); }

void HistoryStore::Close() {
    if (!QSqlDatabase::contains(Q(connection_))) return;
    {
        QSqlDatabase db = QSqlDatabase::database(Q(connection_), false);
        db.close();
    }
    QSqlDatabase::removeDatabase(Q(connection_));
    open_ = false;
    known_.clear();
    thinnedHour_ = -1;
}

bool HistoryStore::Exec(const char* sql) {
    QSqlQuery q(QSqlDatabase::database(Q(connection_), false));
    if (q.exec(QString::fromLatin1(sql))) return true;
    error_ = q.lastError().text().toStdString();
    return false;
}

bool HistoryStore::Run(QSqlQuery& q, const QString& sql, const std::vector<QVariant>& values) {
    q.prepare(sql);
    for (const QVariant& v : values) q.addBindValue(v);
    if (q.exec()) return true;
    error_ = q.lastError().text().toStdString();
    return false;
}

bool HistoryStore::Open(const std::string& path, Mode mode) {
    Close();
    error_.clear();
    if (mode == Mode::Read && !QFileInfo(Q(path)).isFile()) {
        error_ = "no history file " + path;
        return false;
    }
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), Q(connection_));
        db.setDatabaseName(Q(path));
        // A writer that holds the file longer than this counts as a lock
        // that would stop the history.
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=1000"));
        if (!db.open()) {
            error_ = db.lastError().text().toStdString();
            Close();
            return false;
        }
    }
    open_ = true;
    // Each check's query is gone before a failure closes the connection.
    auto check = [this](const char* sql, const char* expected) {
        QSqlQuery q(QSqlDatabase::database(Q(connection_), false));
        if (!q.exec(QString::fromLatin1(sql)) || !q.next()) {
            error_ = q.lastError().text().toStdString();
            if (error_.empty() || error_ == " ") error_ = "not a history file";
            return false;
        }
        if (expected && q.value(0).toString() != QLatin1String(expected)) {
            error_ = std::string(sql) + ": " + q.value(0).toString().toStdString();
            return false;
        }
        return true;
    };
    if (mode == Mode::Read) {
        // Opening reads the header: a file that is no database says so here.
        if (!check("SELECT count(*) FROM enclosures", nullptr)) {
            Close();
            return false;
        }
        return true;
    }
    if (!check("PRAGMA journal_mode=WAL", "wal") || !check("PRAGMA quick_check(1)", "ok")) {
        Close();
        return false;
    }
    // A process that is killed loses nothing committed; only a crash of the
    // whole machine may lose the last transactions.
    if (!Exec("PRAGMA synchronous=NORMAL") || !CreateTables()) {
        Close();
        return false;
    }
    known_ = Enclosures();
    return true;
}

bool HistoryStore::CreateTables() {
    return Exec("CREATE TABLE IF NOT EXISTS enclosures(id INTEGER PRIMARY KEY, model TEXT NOT NULL, "
                "serial TEXT NOT NULL, serial1 TEXT NOT NULL, serial2 TEXT NOT NULL, firmware TEXT NOT NULL, first_ms INTEGER NOT NULL, "
                "last_ms INTEGER NOT NULL, last_slot INTEGER NOT NULL)") &&
           Exec((std::string("CREATE TABLE IF NOT EXISTS minutes") + kColumns).c_str()) &&
           Exec((std::string("CREATE TABLE IF NOT EXISTS hours") + kColumns).c_str()) &&
           Exec("CREATE TABLE IF NOT EXISTS events(enclosure INTEGER NOT NULL, time_ms INTEGER NOT NULL, "
                "slot INTEGER NOT NULL, kind TEXT NOT NULL, text TEXT NOT NULL)") &&
           Exec("CREATE INDEX IF NOT EXISTS events_by_time ON events(enclosure, time_ms)") &&
           Exec("PRAGMA user_version=1");
}

std::vector<StoredEnclosure> HistoryStore::Enclosures() {
    std::vector<StoredEnclosure> out;
    QSqlQuery q(QSqlDatabase::database(Q(connection_), false));
    if (!q.exec("SELECT id, model, serial1, serial2, firmware, first_ms, last_ms, last_slot, serial FROM enclosures ORDER BY id"))
        return out;
    while (q.next()) {
        StoredEnclosure e;
        e.id = q.value(0).toLongLong();
        e.key.model = q.value(1).toString().toStdString();
        e.key.serials = {q.value(2).toString().toStdString(), q.value(3).toString().toStdString()};
        e.key.firmware = q.value(4).toString().toStdString();
        e.firstMs = q.value(5).toLongLong();
        e.lastMs = q.value(6).toLongLong();
        e.lastSlot = q.value(7).toInt();
        e.key.serial = q.value(8).toString().toStdString();
        out.push_back(std::move(e));
    }
    return out;
}

// The enclosure's number: the same model and serials, else the same model
// sharing a serial (one disk was replaced), else a new enclosure.
int64_t HistoryStore::EnclosureId(const EnclosureKey& key, int slot, int64_t timeMs, std::vector<EventRow>& upgrades) {
    const int64_t found = FindEnclosure(known_, key);
    StoredEnclosure* match = nullptr;
    for (StoredEnclosure& e : known_)
        if (e.id == found) match = &e;
    QSqlQuery q(QSqlDatabase::database(Q(connection_), false));
    if (!match) {
        if (!Run(q,
                 "INSERT INTO enclosures(model, serial, serial1, serial2, firmware, first_ms, last_ms, last_slot) "
                 "VALUES(?, ?, ?, ?, ?, ?, ?, ?)",
                 {Q(key.model), Q(key.serial), Q(key.serials[0]), Q(key.serials[1]), Q(key.firmware),
                  qint64(timeMs), qint64(timeMs), slot}))
            return 0;
        known_.push_back(StoredEnclosure{q.lastInsertId().toLongLong(), key, timeMs, timeMs, slot});
        return known_.back().id;
    }
    if (!key.firmware.empty() && !match->key.firmware.empty() && key.firmware != match->key.firmware)
        upgrades.push_back(EventRow{.enclosure = key, .enclosureId = match->id, .slot = slot, .timeMs = timeMs,
                                    .kind = "upgrade",
                                    .text = "Firmware " + match->key.firmware + " is now " + key.firmware});
    if (match->key.serials != key.serials || match->key.firmware != key.firmware || match->lastSlot != slot ||
        timeMs > match->lastMs) {
        if (!Run(q,
                 "UPDATE enclosures SET serial1 = ?, serial2 = ?, firmware = ?, last_ms = max(last_ms, ?), "
                 "last_slot = ? WHERE id = ?",
                 {Q(key.serials[0]), Q(key.serials[1]), Q(key.firmware), qint64(timeMs), slot, qint64(match->id)}))
            return 0;
        match->key.serials = key.serials;
        if (!key.firmware.empty()) match->key.firmware = key.firmware;
        match->lastSlot = slot;
        match->lastMs = std::max(match->lastMs, timeMs);
    }
    return match->id;
}

bool HistoryStore::Write(const HistoryBatch& batch) {
    if (!open_) return false;
    QSqlDatabase db = QSqlDatabase::database(Q(connection_), false);
    if (!db.transaction()) {
        error_ = db.lastError().text().toStdString();
        return false;
    }
    auto fail = [&](const QSqlQuery& q) {
        error_ = q.lastError().text().toStdString();
        db.rollback();
        known_ = {};  // the cache may hold what the rollback took back
        known_ = Enclosures();
        return false;
    };
    std::vector<EventRow> upgrades;
    QSqlQuery reading(db);
    // A minute written twice (a restart within it, a clock set back) adds up.
    reading.prepare(
        "INSERT INTO minutes VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?) ON CONFLICT(enclosure, minute) DO UPDATE SET "
        "slot = excluded.slot, polls = polls + excluded.polls, sensor_polls = sensor_polls + excluded.sensor_polls, "
        "temp_min = min(coalesce(temp_min, excluded.temp_min), coalesce(excluded.temp_min, temp_min)), "
        "temp_max = max(coalesce(temp_max, excluded.temp_max), coalesce(excluded.temp_max, temp_max)), "
        "temp_mean10 = CAST(round((coalesce(temp_mean10, 0) * sensor_polls + coalesce(excluded.temp_mean10, 0) * "
        "excluded.sensor_polls) * 1.0 / nullif(sensor_polls + excluded.sensor_polls, 0)) AS INTEGER), "
        "fan_min = min(coalesce(fan_min, excluded.fan_min), coalesce(excluded.fan_min, fan_min)), "
        "fan_max = max(coalesce(fan_max, excluded.fan_max), coalesce(excluded.fan_max, fan_max)), "
        "fan_mean = CAST(round((coalesce(fan_mean, 0) * sensor_polls + coalesce(excluded.fan_mean, 0) * "
        "excluded.sensor_polls) * 1.0 / nullif(sensor_polls + excluded.sensor_polls, 0)) AS INTEGER), "
        "state = max(state, excluded.state)");
    for (const ReadingRow& r : batch.readings) {
        const int64_t id = EnclosureId(r.enclosure, r.slot, r.minute * 60000, upgrades);
        if (id == 0) {
            db.rollback();
            known_ = Enclosures();
            return false;
        }
        for (const QVariant& v :
             {QVariant(qint64(id)), QVariant(qint64(r.minute)), QVariant(r.slot), QVariant(r.polls),
              QVariant(r.sensorPolls), SensorValue(r, r.tempMin), SensorValue(r, r.tempMax),
              SensorValue(r, r.tempMeanTenths), SensorValue(r, r.fanMin), SensorValue(r, r.fanMax),
              SensorValue(r, r.fanMean), QVariant(r.state)})
            reading.addBindValue(v);
        if (!reading.exec()) return fail(reading);
    }
    QSqlQuery event(db);
    event.prepare("INSERT INTO events VALUES(?, ?, ?, ?, ?)");
    auto addEvent = [&](const EventRow& e, int64_t id) {
        for (const QVariant& v : {QVariant(qint64(id)), QVariant(qint64(e.timeMs)), QVariant(e.slot),
                                  QVariant(Q(e.kind)), QVariant(Q(e.text))})
            event.addBindValue(v);
        return event.exec();
    };
    for (const EventRow& e : batch.events) {
        const int64_t id = EnclosureId(e.enclosure, e.slot, e.timeMs, upgrades);
        if (id == 0) {
            db.rollback();
            known_ = Enclosures();
            return false;
        }
        if (!addEvent(e, id)) return fail(event);
    }
    for (const EventRow& e : upgrades)
        if (!addEvent(e, e.enclosureId)) return fail(event);
    if (!Thin(batch.nowMinute)) {
        db.rollback();
        known_ = Enclosures();
        return false;
    }
    if (!db.commit()) {
        error_ = db.lastError().text().toStdString();
        db.rollback();
        known_ = Enclosures();
        return false;
    }
    return true;
}

// Once an hour: minutes older than their keep move to one row an hour, and
// rows older than the whole keep go.
bool HistoryStore::Thin(int64_t nowMinute) {
    const int64_t hour = nowMinute / 60;
    if (hour == thinnedHour_) return true;
    const int64_t cutoff = (nowMinute - kMinuteRowsKeptMinutes) / 60 * 60;
    const int64_t drop = nowMinute - kRowsKeptMinutes;
    QSqlDatabase db = QSqlDatabase::database(Q(connection_), false);
    QSqlQuery q(db);
    for (const StoredEnclosure& e : known_) {
        const std::pair<const char*, std::vector<qint64>> steps[] = {
            {"INSERT OR REPLACE INTO hours SELECT enclosure, minute / 60 * 60, max(slot), sum(polls), "
             "sum(sensor_polls), min(temp_min), max(temp_max), "
             "CAST(round(sum(temp_mean10 * sensor_polls) * 1.0 / nullif(sum(sensor_polls), 0)) AS INTEGER), "
             "min(fan_min), max(fan_max), "
             "CAST(round(sum(fan_mean * sensor_polls) * 1.0 / nullif(sum(sensor_polls), 0)) AS INTEGER), max(state) "
             "FROM minutes WHERE enclosure = ? AND minute < ? GROUP BY minute / 60",
             {e.id, cutoff}},
            {"DELETE FROM minutes WHERE enclosure = ? AND minute < ?", {e.id, cutoff}},
            {"DELETE FROM hours WHERE enclosure = ? AND minute < ?", {e.id, drop}},
            {"DELETE FROM events WHERE enclosure = ? AND time_ms < ?", {e.id, drop * 60000}},
        };
        for (const auto& [sql, values] : steps)
            if (!Run(q, QString::fromLatin1(sql), std::vector<QVariant>(values.begin(), values.end()))) return false;
    }
    thinnedHour_ = hour;
    return true;
}

std::vector<ReadingRow> HistoryStore::Readings(int64_t enclosureId, int64_t fromMinute, int64_t toMinute, int slot) {
    std::vector<ReadingRow> out;
    if (!open_) return out;
    const QString where = QStringLiteral(" WHERE (? = 0 OR enclosure = ?) AND minute >= ? AND minute < ? AND (? < 0 OR slot = ?)");
    const QString columns = QStringLiteral("enclosure, minute, slot, polls, sensor_polls, temp_min, temp_max, "
                                           "temp_mean10, fan_min, fan_max, fan_mean, state");
    QSqlQuery q(QSqlDatabase::database(Q(connection_), false));
    q.setForwardOnly(true);
    const std::vector<QVariant> range = {qint64(enclosureId), qint64(enclosureId), qint64(fromMinute),
                                         qint64(toMinute),    qint64(slot),        qint64(slot)};
    std::vector<QVariant> values = range;
    values.insert(values.end(), range.begin(), range.end());  // the same range for both tables
    if (!Run(q,
             "SELECT 60, " + columns + " FROM hours" + where + " UNION ALL SELECT 1, " + columns + " FROM minutes" +
                 where + " ORDER BY 2, 3",
             values))
        return out;
    while (q.next()) {
        ReadingRow r;
        r.span = q.value(0).toInt();
        r.enclosureId = q.value(1).toLongLong();
        r.minute = q.value(2).toLongLong();
        r.slot = q.value(3).toInt();
        r.polls = q.value(4).toInt();
        r.sensorPolls = q.value(5).toInt();
        r.tempMin = q.value(6).toInt();
        r.tempMax = q.value(7).toInt();
        r.tempMeanTenths = q.value(8).toInt();
        r.fanMin = q.value(9).toInt();
        r.fanMax = q.value(10).toInt();
        r.fanMean = q.value(11).toInt();
        r.state = q.value(12).toInt();
        out.push_back(std::move(r));
    }
    return out;
}

std::vector<EventRow> HistoryStore::Events(int64_t enclosureId, int64_t fromMs, int64_t toMs, int slot) {
    std::vector<EventRow> out;
    if (!open_) return out;
    QSqlQuery q(QSqlDatabase::database(Q(connection_), false));
    q.setForwardOnly(true);
    if (!Run(q,
             "SELECT enclosure, time_ms, slot, kind, text FROM events WHERE (? = 0 OR enclosure = ?) AND "
             "time_ms >= ? AND time_ms < ? AND (? < 0 OR slot = ?) ORDER BY enclosure, time_ms, rowid",
             {qint64(enclosureId), qint64(enclosureId), qint64(fromMs), qint64(toMs), qint64(slot), qint64(slot)}))
        return out;
    while (q.next()) {
        EventRow e;
        e.enclosureId = q.value(0).toLongLong();
        e.timeMs = q.value(1).toLongLong();
        e.slot = q.value(2).toInt();
        e.kind = q.value(3).toString().toStdString();
        e.text = q.value(4).toString().toStdString();
        out.push_back(std::move(e));
    }
    return out;
}

}  // namespace kestrel

#include "sim/scenario.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <set>

#include "sim/status_fields.h"

namespace kestrel::sim {

namespace {

constexpr std::array<const char*, kRequestKindCount> kKindNames = {
    "open", "inquiry", "rescan", "extents", "identify", "status", "probe", "flash-read", "flash-result",
    "flash-program", "flash-erase", "mode", "command", "bridge-fixed", "read", "write", "other"};

constexpr std::array kActionNames = {"set",          "pull-disk",  "insert-disk", "fail-disk",
                                     "start-rebuild", "start-scan", "bad-sectors", "fan-alarm",
                                     "temperature-alarm", "unplug", "plug",        "usb-event",
                                     "fail",          "quit"};

constexpr size_t kFlashBytes = 0x80000;

std::string Join(std::initializer_list<const char*> names) {
    std::string text;
    for (const char* n : names) text += (text.empty() ? "" : ", ") + std::string(n);
    return text;
}

std::string Index(const std::string& where, qsizetype i) { return where + "[" + std::to_string(i) + "]"; }
std::string Member(const std::string& where, const char* key) { return where.empty() ? key : where + "." + key; }

// A refusal is one line, whatever the scenario's keys and texts contain:
// control characters (C0, DEL and, in UTF-8, C1) are shown escaped.
std::string OneLine(const std::string& text) {
    std::string out;
    auto escaped = [&](unsigned u) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02X", u);
        out += hex;
    };
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const auto u = static_cast<unsigned char>(c);
        const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0u;
        if (c == '\n') out += "\\n";
        else if (c == '\r') out += "\\r";
        else if (c == '\t') out += "\\t";
        else if (u < 0x20 || u == 0x7F) escaped(u);
        else if (u == 0xC2 && next >= 0x80 && next <= 0x9F) escaped(next), ++i;
        else out += c;
    }
    return out;
}

// Reads a flash image: a regular file of exactly the flash's size, checked
// before anything is read (a device or a FIFO is refused, not drained).
std::string ReadFlashImage(const std::string& path, std::vector<uint8_t>& out) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return "expected a readable file; cannot open " + path;
    struct stat st {};
    std::string problem;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        problem = "expected a regular file; " + path + " is not one";
    } else if (static_cast<size_t>(st.st_size) != kFlashBytes) {
        problem = "expected a file of 524288 bytes; " + path + " has " + std::to_string(st.st_size);
    } else {
        out.assign(kFlashBytes + 1, 0);  // one byte more, to see a file that grew
        size_t got = 0;
        while (got < out.size()) {
            const ssize_t n = ::read(fd, out.data() + got, out.size() - got);
            if (n <= 0) break;
            got += static_cast<size_t>(n);
        }
        if (got != kFlashBytes) problem = "expected a file of 524288 bytes; " + path + " changed while read";
        out.resize(kFlashBytes);
    }
    ::close(fd);
    return problem;
}

class Parser {
public:
    Parser(std::string source, std::string baseDir) : source_(std::move(source)), baseDir_(std::move(baseDir)) {}

    const std::string& Error() const { return error_; }

    bool Fail(const std::string& where, const std::string& what) {
        if (error_.empty()) error_ = OneLine(source_ + ": " + (where.empty() ? "top level" : where) + ": " + what);
        return false;
    }

    bool Root(const QJsonObject& root, Scenario& out) {
        if (!Keys(root, "", {"host", "drives", "volumes", "enclosures", "timeline", "flashTiming"})) return false;
        if (root.contains("flashTiming") && !Timing(root["flashTiming"], "flashTiming", out.flashTiming)) return false;
        if (root.contains("host") && !Host(root["host"], "host", out.host)) return false;
        if (!List(root, "enclosures", [&](const QJsonValue& v, const std::string& w) {
                EnclosureConfig e;
                e.identity.serial = "KSIM" + std::to_string(100001 + out.enclosures.size());
                if (!Enclosure(v, w, e)) return false;
                for (const EnclosureConfig& other : out.enclosures)
                    if (other.name == e.name) return Fail(Member(w, "name"), "expected a name no other enclosure has");
                out.enclosures.push_back(std::move(e));
                return true;
            }))
            return false;
        if (!List(root, "drives", [&](const QJsonValue& v, const std::string& w) {
                DriveConfig d;
                if (!Drive(v, w, out, d)) return false;
                out.drives.push_back(std::move(d));
                return true;
            }))
            return false;
        if (!List(root, "volumes", [&](const QJsonValue& v, const std::string& w) {
                VolumeConfig s;
                if (!Volume(v, w, out, s)) return false;
                out.volumes.push_back(s);
                return true;
            }))
            return false;
        return List(root, "timeline", [&](const QJsonValue& v, const std::string& w) {
            Step s;
            if (!StepOf(v, w, out, s)) return false;
            out.timeline.push_back(std::move(s));
            return true;
        });
    }

private:
    template <typename F>
    bool List(const QJsonObject& object, const char* key, F each) {
        if (!object.contains(key)) return true;
        const QJsonValue value = object[key];
        if (!value.isArray()) return Fail(key, "expected a list");
        const QJsonArray array = value.toArray();
        for (qsizetype i = 0; i < array.size(); ++i)
            if (!each(array[i], Index(key, i))) return false;
        return true;
    }

    bool Keys(const QJsonObject& object, const std::string& where, std::initializer_list<const char*> allowed) {
        for (auto it = object.begin(); it != object.end(); ++it) {
            const std::string key = it.key().toStdString();
            bool known = false;
            for (const char* a : allowed) known = known || key == a;
            if (!known) return Fail(Member(where, key.c_str()), "unknown key; expected one of " + Join(allowed));
        }
        return true;
    }

    bool Object(const QJsonValue& value, const std::string& where, QJsonObject& out) {
        if (!value.isObject()) return Fail(where, "expected an object");
        out = value.toObject();
        return true;
    }

    // A non-negative integer, as a JSON number or a text such as "0x22".
    bool Number(const QJsonValue& value, const std::string& where, uint64_t max, uint64_t& out) {
        const std::string expected = "expected a whole number from 0 to " + std::to_string(max);
        if (value.isDouble()) {
            const double d = value.toDouble();
            if (d < 0 || d != std::floor(d) || d > static_cast<double>(max)) return Fail(where, expected);
            out = static_cast<uint64_t>(d);
            return true;
        }
        if (value.isString()) {
            // Decimal, or hexadecimal with 0x; a leading zero does not mean octal.
            const QString text = value.toString();
            const bool hex = text.startsWith("0x", Qt::CaseInsensitive);
            bool ok = false;
            const qulonglong n = (hex ? text.mid(2) : text).toULongLong(&ok, hex ? 16 : 10);
            if (!ok || n > max) return Fail(where, expected);
            out = n;
            return true;
        }
        return Fail(where, expected);
    }

    bool Text(const QJsonValue& value, const std::string& where, std::string& out) {
        if (!value.isString()) return Fail(where, "expected a text");
        const QByteArray latin = value.toString().toLatin1();
        out.assign(latin.constData(), static_cast<size_t>(latin.size()));
        return true;
    }

    bool Bool(const QJsonValue& value, const std::string& where, bool& out) {
        if (!value.isBool()) return Fail(where, "expected true or false");
        out = value.toBool();
        return true;
    }

    // true, false, or an object with the milliseconds per erase, program and
    // read (each from 0 to 10000).
    bool Timing(const QJsonValue& value, const std::string& where, FlashTiming& timing) {
        if (value.isBool()) {
            timing.on = value.toBool();
            return true;
        }
        QJsonObject o;
        if (!value.isObject())
            return Fail(where, "expected true, false or an object with eraseMs, programMs, readMs, commandMs");
        o = value.toObject();
        if (!Keys(o, where, {"eraseMs", "programMs", "readMs", "commandMs"})) return false;
        timing.on = true;
        for (auto [key, field] : {std::pair{"eraseMs", &timing.eraseMs}, std::pair{"programMs", &timing.programMs},
                                  std::pair{"readMs", &timing.readMs}, std::pair{"commandMs", &timing.commandMs}}) {
            if (!o.contains(key)) continue;
            const double ms = o[key].toDouble(-1.0);
            if (!o[key].isDouble() || !(ms >= 0.0 && ms <= 10000.0))
                return Fail(Member(where, key), "expected milliseconds from 0 to 10000");
            *field = ms;
        }
        return true;
    }

    bool Host(const QJsonValue& value, const std::string& where, HostInfo& host) {
        QJsonObject o;
        if (!Object(value, where, o) || !Keys(o, where, {"boardVendor", "boardName", "systemName", "ipAddresses"}))
            return false;
        if (o.contains("boardVendor") && !Text(o["boardVendor"], Member(where, "boardVendor"), host.boardVendor)) return false;
        if (o.contains("boardName") && !Text(o["boardName"], Member(where, "boardName"), host.boardName)) return false;
        if (o.contains("systemName") && !Text(o["systemName"], Member(where, "systemName"), host.systemName)) return false;
        if (o.contains("ipAddresses")) {
            const std::string w = Member(where, "ipAddresses");
            if (!o["ipAddresses"].isArray()) return Fail(w, "expected a list of texts");
            const QJsonArray list = o["ipAddresses"].toArray();
            for (qsizetype i = 0; i < list.size(); ++i) {
                std::string address;
                if (!Text(list[i], Index(w, i), address)) return false;
                host.ipAddresses.push_back(address);
            }
        }
        return true;
    }

    bool Paths(const QJsonObject& o, const std::string& where, PathSet& paths) {
        if (o.contains("paths")) {
            const std::string w = Member(where, "paths");
            if (!o["paths"].isArray()) return Fail(w, "expected a list of \"ata\", \"mailbox\", \"bridge\"");
            paths.ata = paths.mailbox = paths.bridge = false;
            const QJsonArray list = o["paths"].toArray();
            for (qsizetype i = 0; i < list.size(); ++i) {
                const QString name = list[i].toString();
                if (name == "ata") paths.ata = true;
                else if (name == "mailbox") paths.mailbox = true;
                else if (name == "bridge") paths.bridge = true;
                else return Fail(Index(w, i), "expected \"ata\", \"mailbox\" or \"bridge\"");
            }
        }
        if (o.contains("bridgeShifts")) {
            const std::string w = Member(where, "bridgeShifts");
            if (!o["bridgeShifts"].isArray() || o["bridgeShifts"].toArray().isEmpty())
                return Fail(w, "expected a list of the shifts 0 and 1");
            paths.shift0 = paths.shift1 = false;
            const QJsonArray list = o["bridgeShifts"].toArray();
            for (qsizetype i = 0; i < list.size(); ++i) {
                uint64_t shift = 0;
                if (!Number(list[i], Index(w, i), 1, shift)) return false;
                (shift ? paths.shift1 : paths.shift0) = true;
            }
        }
        if (o.contains("bridgeIdentify") && !Bool(o["bridgeIdentify"], Member(where, "bridgeIdentify"), paths.bridgeIdentify))
            return false;
        return true;
    }

    bool Fields(const QJsonValue& value, const std::string& where, std::vector<FieldSetting>& out) {
        QJsonObject o;
        if (!Object(value, where, o)) return false;
        for (auto it = o.begin(); it != o.end(); ++it) {
            const std::string name = it.key().toStdString();
            const std::string w = Member(where, name.c_str());
            const StatusField* field = FindStatusField(name);
            if (!field) return Fail(w, "unknown status field");
            FieldSetting setting{name, uint64_t{0}};
            const QJsonValue v = it.value();
            if (field->kind == FieldKind::SectorList) {
                if (!v.isArray()) return Fail(w, "expected a list of at most 10 sector addresses");
                std::vector<uint32_t> list;
                const QJsonArray array = v.toArray();
                for (qsizetype i = 0; i < array.size(); ++i) {
                    uint64_t n = 0;
                    if (!Number(array[i], Index(w, i), 0xFFFFFFFFu, n)) return false;
                    list.push_back(static_cast<uint32_t>(n));
                }
                setting.value = std::move(list);
            } else if (field->kind == FieldKind::Ata || field->kind == FieldKind::Text) {
                std::string text;
                if (!Text(v, w, text)) return false;
                setting.value = text;
            } else {
                uint64_t n = 0;
                if (!Number(v, w, FieldLimit(*field), n)) return false;
                setting.value = n;
            }
            const std::string problem = CheckFieldValue(*field, setting.value);
            if (!problem.empty()) return Fail(w, "expected " + problem);
            out.push_back(std::move(setting));
        }
        return true;
    }

    bool Enclosure(const QJsonValue& value, const std::string& where, EnclosureConfig& e) {
        QJsonObject o;
        if (!Object(value, where, o)) return false;
        if (!Keys(o, where, {"name", "paths", "bridgeShifts", "bridgeIdentify", "identity", "status", "flashImage", "plugged"}))
            return false;
        if (!o.contains("name")) return Fail(Member(where, "name"), "expected a name (missing)");
        if (!Text(o["name"], Member(where, "name"), e.name)) return false;
        if (e.name.empty()) return Fail(Member(where, "name"), "expected a name that is not empty");
        e.paths = PathSet{true, true, false};
        if (!Paths(o, where, e.paths)) return false;
        if (o.contains("identity")) {
            const std::string w = Member(where, "identity");
            QJsonObject id;
            if (!Object(o["identity"], w, id) || !Keys(id, w, {"model", "firmwareRevision", "serial"})) return false;
            if (id.contains("model") && !Text(id["model"], Member(w, "model"), e.identity.model)) return false;
            if (id.contains("firmwareRevision") &&
                !Text(id["firmwareRevision"], Member(w, "firmwareRevision"), e.identity.firmwareRevision))
                return false;
            if (id.contains("serial") && !Text(id["serial"], Member(w, "serial"), e.identity.serial)) return false;
            if (e.identity.model.size() > 40) return Fail(Member(w, "model"), "expected at most 40 characters");
            if (e.identity.firmwareRevision.size() > 8)
                return Fail(Member(w, "firmwareRevision"), "expected at most 8 characters");
            if (e.identity.serial.size() > 20) return Fail(Member(w, "serial"), "expected at most 20 characters");
        }
        if (o.contains("status") && !Fields(o["status"], Member(where, "status"), e.status)) return false;
        if (o.contains("plugged") && !Bool(o["plugged"], Member(where, "plugged"), e.plugged)) return false;
        if (o.contains("flashImage")) {
            const std::string w = Member(where, "flashImage");
            std::string name;
            if (!Text(o["flashImage"], w, name)) return false;
            QFileInfo info(QString::fromStdString(name));
            const QString path = info.isAbsolute() ? info.filePath()
                                                   : QString::fromStdString(baseDir_) + "/" + info.filePath();
            const std::string problem = ReadFlashImage(path.toStdString(), e.flashImage);
            if (!problem.empty()) {
                e.flashImage.clear();
                return Fail(w, problem);
            }
        }
        return true;
    }

    bool Drive(const QJsonValue& value, const std::string& where, const Scenario& s, DriveConfig& d) {
        QJsonObject o;
        if (!Object(value, where, o) || !Keys(o, where, {"number", "enclosure", "paths", "bridgeShifts", "bridgeIdentify", "model"}))
            return false;
        uint64_t number = 0;
        if (!o.contains("number")) return Fail(Member(where, "number"), "expected a drive number 0-9 (missing)");
        if (!Number(o["number"], Member(where, "number"), 9, number)) return false;
        d.number = static_cast<int>(number);
        for (const DriveConfig& other : s.drives)
            if (other.number == d.number) return Fail(Member(where, "number"), "expected a drive number not used before");
        if (o.contains("enclosure")) {
            if (!Text(o["enclosure"], Member(where, "enclosure"), d.enclosure)) return false;
            const EnclosureConfig* e = FindEnclosure(s, d.enclosure);
            if (!e) return Fail(Member(where, "enclosure"), "expected the name of an enclosure");
            if (o.contains("paths") || o.contains("bridgeShifts") || o.contains("bridgeIdentify")) {
                PathSet own = e->paths;
                if (!Paths(o, where, own)) return false;
                d.paths = own;
            }
        } else if (o.contains("paths") || o.contains("bridgeShifts") || o.contains("bridgeIdentify")) {
            return Fail(Member(where, "paths"), "expected paths only on a drive of an enclosure");
        }
        if (o.contains("model") && !Text(o["model"], Member(where, "model"), d.model)) return false;
        return true;
    }

    bool Volume(const QJsonValue& value, const std::string& where, const Scenario& s, VolumeConfig& v) {
        QJsonObject o;
        if (!Object(value, where, o) || !Keys(o, where, {"letter", "type", "disk", "offset", "length"})) return false;
        std::string letter;
        if (!o.contains("letter")) return Fail(Member(where, "letter"), "expected a drive letter A-Z (missing)");
        if (!Text(o["letter"], Member(where, "letter"), letter) || letter.size() != 1 || letter[0] < 'A' || letter[0] > 'Z')
            return Fail(Member(where, "letter"), "expected one upper-case drive letter A-Z");
        v.letter = letter[0];
        for (const VolumeConfig& other : s.volumes)
            if (other.letter == v.letter) return Fail(Member(where, "letter"), "expected a letter not used before");
        if (o.contains("type")) {
            const QJsonValue t = o["type"];
            static const std::pair<const char*, unsigned> kTypes[] = {
                {"removable", 2}, {"fixed", 3}, {"remote", 4}, {"cdrom", 5}, {"ramdisk", 6}};
            bool found = false;
            for (const auto& [name, code] : kTypes)
                if (t.toString() == name) v.type = code, found = true;
            if (!found) {
                uint64_t n = 0;
                if (!t.isDouble() || !Number(t, Member(where, "type"), 6, n))
                    return Fail(Member(where, "type"), "expected removable, fixed, remote, cdrom, ramdisk or 0-6");
                v.type = static_cast<unsigned>(n);
            }
        }
        if (o.contains("disk")) {
            uint64_t disk = 0;
            if (!Number(o["disk"], Member(where, "disk"), 9, disk)) return false;
            bool declared = false;
            for (const DriveConfig& d : s.drives) declared = declared || d.number == static_cast<int>(disk);
            if (!declared) return Fail(Member(where, "disk"), "expected the number of a drive in \"drives\"");
            v.disk = static_cast<int>(disk);
        }
        if (o.contains("offset") && !Number(o["offset"], Member(where, "offset"), 1ull << 53, v.offset)) return false;
        if (o.contains("length") && !Number(o["length"], Member(where, "length"), 1ull << 53, v.length)) return false;
        return true;
    }

    bool StepOf(const QJsonValue& value, const std::string& where, const Scenario& s, Step& step) {
        QJsonObject o;
        if (!Object(value, where, o)) return false;
        if (!Keys(o, where, {"at", "afterStatusReads", "enclosure", "action", "fields", "disk", "model", "serial",
                             "capacity", "step", "lba", "on", "request", "times", "after"}))
            return false;
        if (o.contains("at") == o.contains("afterStatusReads"))
            return Fail(where, "expected exactly one of \"at\" (milliseconds) and \"afterStatusReads\"");
        uint64_t n = 0;
        if (o.contains("at")) {
            if (!Number(o["at"], Member(where, "at"), 1ull << 40, n)) return false;
            step.atMs = n;
        } else {
            if (!Number(o["afterStatusReads"], Member(where, "afterStatusReads"), 1u << 30, n)) return false;
            if (n == 0) return Fail(Member(where, "afterStatusReads"), "expected a count of 1 or more");
            step.afterStatusReads = static_cast<unsigned>(n);
        }
        if (o.contains("enclosure")) {
            if (!Text(o["enclosure"], Member(where, "enclosure"), step.enclosure)) return false;
            if (!FindEnclosure(s, step.enclosure)) return Fail(Member(where, "enclosure"), "expected the name of an enclosure");
        }
        std::string action;
        if (!o.contains("action") || !Text(o["action"], Member(where, "action"), action))
            return Fail(Member(where, "action"), "expected one of " + ActionList());
        bool found = false;
        for (size_t i = 0; i < kActionNames.size(); ++i)
            if (action == kActionNames[i]) step.action = static_cast<Action>(i), found = true;
        if (!found) return Fail(Member(where, "action"), "expected one of " + ActionList());

        const bool global = step.action == Action::Quit || step.action == Action::UsbEvent || step.action == Action::Fail;
        if (step.enclosure.empty() && (!global || step.afterStatusReads))
            return Fail(Member(where, "enclosure"), "expected the name of the enclosure this step changes");

        if (o.contains("disk")) {
            if (!Number(o["disk"], Member(where, "disk"), 2, n) || n < 1) return Fail(Member(where, "disk"), "expected 1 or 2");
            step.disk = static_cast<int>(n);
        }
        switch (step.action) {
            case Action::Set:
                if (!o.contains("fields")) return Fail(Member(where, "fields"), "expected the status fields to set (missing)");
                return Fields(o["fields"], Member(where, "fields"), step.fields);
            case Action::InsertDisk:
                if (o.contains("model") && !Text(o["model"], Member(where, "model"), step.model)) return false;
                if (o.contains("serial") && !Text(o["serial"], Member(where, "serial"), step.serial)) return false;
                if (step.model.size() > 40) return Fail(Member(where, "model"), "expected at most 40 characters");
                if (step.serial.size() > 20) return Fail(Member(where, "serial"), "expected at most 20 characters");
                if (o.contains("capacity") && !Number(o["capacity"], Member(where, "capacity"), 0xFFFFFFFFFFull, step.capacity))
                    return false;
                return true;
            case Action::StartRebuild:
            case Action::StartScan:
                if (o.contains("step")) {
                    if (!Number(o["step"], Member(where, "step"), 99, n) || n == 0)
                        return Fail(Member(where, "step"), "expected a percent step from 1 to 99");
                    step.percentStep = static_cast<unsigned>(n);
                }
                return true;
            case Action::BadSectors: {
                const std::string w = Member(where, "lba");
                if (!o["lba"].isArray() || o["lba"].toArray().isEmpty()) return Fail(w, "expected a list of sector addresses");
                const QJsonArray list = o["lba"].toArray();
                for (qsizetype i = 0; i < list.size(); ++i) {
                    if (!Number(list[i], Index(w, i), 0xFFFFFFFFu, n)) return false;
                    step.lbas.push_back(static_cast<uint32_t>(n));
                }
                return true;
            }
            case Action::FanAlarm:
            case Action::TemperatureAlarm:
                if (o.contains("on")) return Bool(o["on"], Member(where, "on"), step.on);
                return true;
            case Action::Fail: {
                std::string kind;
                if (!o.contains("request") || !Text(o["request"], Member(where, "request"), kind) ||
                    !RequestKindFromName(kind))
                    return Fail(Member(where, "request"), "expected a request kind: " + KindList());
                step.request = *RequestKindFromName(kind);
                if (o.contains("times")) {
                    if (o["times"].toString() == "forever") step.times = -1;
                    else if (!Number(o["times"], Member(where, "times"), 1u << 30, n))
                        return Fail(Member(where, "times"), "expected a count (0 clears) or \"forever\"");
                    else step.times = static_cast<int>(n);
                }
                if (o.contains("after")) {
                    if (!Number(o["after"], Member(where, "after"), 1u << 30, n)) return false;
                    step.after = static_cast<int>(n);
                }
                return true;
            }
            default: return true;
        }
    }

    static const EnclosureConfig* FindEnclosure(const Scenario& s, const std::string& name) {
        for (const EnclosureConfig& e : s.enclosures)
            if (e.name == name) return &e;
        return nullptr;
    }
    static std::string ActionList() {
        std::string text;
        for (const char* n : kActionNames) text += (text.empty() ? "" : ", ") + std::string(n);
        return text;
    }
    static std::string KindList() {
        std::string text;
        for (const char* n : kKindNames) text += (text.empty() ? "" : ", ") + std::string(n);
        return text;
    }

    std::string source_;
    std::string baseDir_;
    std::string error_;
};

}  // namespace

const char* RequestKindName(RequestKind kind) {
    const auto i = static_cast<size_t>(kind);
    return i < kKindNames.size() ? kKindNames[i] : "other";
}

std::optional<RequestKind> RequestKindFromName(std::string_view name) {
    for (size_t i = 0; i < kKindNames.size(); ++i)
        if (name == kKindNames[i]) return static_cast<RequestKind>(i);
    return std::nullopt;
}

const char* ActionName(Action action) {
    const auto i = static_cast<size_t>(action);
    return i < kActionNames.size() ? kActionNames[i] : "";
}

ScenarioLoad ParseScenario(std::string_view json, const std::string& sourceName, const std::string& baseDir) {
    ScenarioLoad load;
    const QByteArray bytes(json.data(), static_cast<qsizetype>(json.size()));
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        int line = 1, column = 1;
        for (qsizetype i = 0; i < parseError.offset && i < bytes.size(); ++i) {
            if (bytes[i] == '\n') ++line, column = 1;
            else ++column;
        }
        load.error = sourceName + ":" + std::to_string(line) + ":" + std::to_string(column) + ": " +
                     parseError.errorString().toStdString();
        return load;
    }
    if (!document.isObject()) {
        load.error = sourceName + ": top level: expected an object";
        return load;
    }
    Scenario scenario;
    scenario.source = sourceName;
    Parser parser(sourceName, baseDir);
    if (!parser.Root(document.object(), scenario)) {
        load.error = parser.Error();
        return load;
    }
    load.scenario = std::move(scenario);
    return load;
}

ScenarioLoad LoadScenarioFile(const std::string& path) {
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly)) {
        ScenarioLoad load;
        load.error = path + ": cannot open the scenario file";
        return load;
    }
    const QByteArray text = file.readAll();
    const std::string dir = QFileInfo(file).absolutePath().toStdString();
    return ParseScenario(std::string_view(text.constData(), static_cast<size_t>(text.size())), path, dir);
}

ScenarioLoad BuiltInScenario(ProductVariant variant) {
    if (variant == ProductVariant::Hybrid) return ParseScenario(BuiltInHybridScenarioText(), "built-in hybrid demo", ".");
    return ParseScenario(BuiltInScenarioText(), "built-in demo", ".");
}

}  // namespace kestrel::sim

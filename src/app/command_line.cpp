#include "app/command_line.h"

#include <QCommandLineParser>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <cmath>
#include <cstdlib>
#include <tuple>

#include "platform/registry_key.h"

namespace kestrel {

namespace {

ParseOutcome Fail(const std::string& program, const std::string& message) {
    ParseOutcome outcome;
    outcome.kind = ParseOutcome::Kind::Exit;
    outcome.exitCode = 2;
    outcome.err = program + ": " + message + " (see --help)";
    return outcome;
}

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

// What --help says after the options: the files, signals and privileges.
const char* kHelpEpilog = R"(
Exit codes of --status: 0 every monitored enclosure normal; 1 degraded (one
disk), rebuilding or scanning; 2 failed array or disk, over temperature, fan
failure, or an enclosure that stopped answering; 3 nothing could be read
(no enclosure, none monitored, or the monitor is still starting). An
enclosure whose device box is unticked is "Not monitored" and takes no part.
While the monitor runs, --status reads the state it publishes after every
poll instead of sending requests of its own. For a node exporter, prefer
--metrics-file: the monitor keeps it current and replaces it atomically.

Files:
  yymmdd.log     the day's event log, in --log-dir; by default beside the
                 program in a build folder, else $XDG_STATE_HOME/kestrel
                 (~/.local/state/kestrel), or /var/log/kestrel for the service
  ~/.config/kestrel/<program>.ini  the e-mail settings (/etc/kestrel for the
                 service), with the alert text files beside it
  /run/kestrel/  the single-instance lock (one for the whole machine) and
                 status-UID.json, the state of each user's running monitor;
                 without that folder, $XDG_RUNTIME_DIR or ~/.cache/kestrel
  $XDG_STATE_HOME/kestrel/unwritten-log-lines  day-log lines a stop could
                 not write, written at the next start
  $XDG_STATE_HOME/kestrel/history.sqlite  each enclosure's readings (one row
                 a minute, older ones an hour) and events; --history prints them

Signals: SIGINT and SIGTERM close the program as closing its window does;
SIGHUP reloads the settings (mail, EventProgram, MetricsFile).

Privileges: the enclosures are reached through /dev/sg*: run as root or as a
member of group disk, which may also write /run/kestrel.
)";

}  // namespace

LogDirInputs LogDirInputsFromEnvironment() {
    LogDirInputs in;
    // Before any application object exists.
    in.executableDir = QFileInfo(QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget()).absolutePath().toStdString();
    in.logsDirectory = Env("LOGS_DIRECTORY");
    in.stateHome = Env("XDG_STATE_HOME");
    in.stateDirectory = Env("STATE_DIRECTORY");
    in.home = Env("HOME");
    return in;
}

void TakeStoredSettings(Options& options) {
    if (options.eventProgramOnCommandLine && options.metricsFileOnCommandLine) return;
    RegistryKey key(options.registryFile.empty() ? RegistryKey::DefaultFile() : options.registryFile);
    if (key.Probe() != RegistryKey::Presence::Present || !key.Open(false)) return;
    if (!options.eventProgramOnCommandLine) options.eventProgram = key.ReadString(kEventProgramValue).value_or("");
    if (!options.metricsFileOnCommandLine) options.metricsFile = key.ReadString(kMetricsFileValue).value_or("");
    (void)key.Close();
}

std::string DefaultLogDir(const LogDirInputs& in) {
    const QDir dir(QString::fromStdString(in.executableDir));
    // A build folder holds its CMake cache; an installed program sits in a
    // prefix's bin folder, which is no place for logs.
    const bool installed = dir.dirName() == "bin" && !dir.exists("CMakeCache.txt");
    if (!installed) return in.executableDir;
    if (!in.logsDirectory.empty()) {
        // systemd may name several, separated by colons; the first is ours.
        return in.logsDirectory.substr(0, in.logsDirectory.find(':'));
    }
    if (!in.stateHome.empty() && in.stateHome.front() == '/') return in.stateHome + "/kestrel";
    if (!in.home.empty()) return in.home + "/.local/state/kestrel";
    return in.executableDir;
}

std::string DefaultStateDir(const LogDirInputs& in) {
    if (!in.stateDirectory.empty()) return in.stateDirectory.substr(0, in.stateDirectory.find(':'));
    if (!in.stateHome.empty() && in.stateHome.front() == '/') return in.stateHome + "/kestrel";
    if (!in.home.empty()) return in.home + "/.local/state/kestrel";
    return {};
}

std::optional<int64_t> ParseHistoryDate(const std::string& text, bool endOfDay) {
    const QString t = QString::fromStdString(text).trimmed();
    const QDate day = QDate::fromString(t, Qt::ISODate);
    if (day.isValid() && t.size() == 10)
        return QDateTime(endOfDay ? day.addDays(1) : day, QTime(0, 0)).toMSecsSinceEpoch();
    const QDateTime time = QDateTime::fromString(t, Qt::ISODate);
    if (!time.isValid() || !t.contains('T')) return std::nullopt;
    return time.toMSecsSinceEpoch();
}

namespace {

// Qt's own options, which the window's QApplication takes from the same
// command line: left to it, never refused as unknown here.
bool QtOption(const QString& arg, bool& takesValue) {
    static const QStringList withValue = {"platform", "platformpluginpath", "platformtheme", "plugin", "style",
                                          "stylesheet", "session", "display", "geometry", "title", "qwindowgeometry",
                                          "qwindowicon", "qwindowtitle", "qwindowscreen", "name", "font", "fn", "bg",
                                          "background", "fg", "foreground", "btn", "button", "visual", "qmljsdebugger"};
    static const QStringList flags = {"reverse", "nograb", "dograb", "sync", "widgetcount", "testability"};
    if (!arg.startsWith('-') || arg == "-" || arg == "--") return false;
    QString name = arg.mid(arg.startsWith("--") ? 2 : 1);
    const qsizetype equals = name.indexOf('=');
    const bool inline_ = equals >= 0;
    if (inline_) name = name.left(equals);
    if (flags.contains(name) && !inline_) {
        takesValue = false;
        return true;
    }
    if (!withValue.contains(name)) return false;
    takesValue = !inline_;
    return true;
}

}  // namespace

ParseOutcome ParseCommandLine(const std::vector<std::string>& args, ProductVariant variant,
                              bool displayAvailable) {
    const std::string program = args.empty() ? std::string("kestrel") : QFileInfo(QString::fromStdString(args[0])).fileName().toStdString();

    // --simulate takes an optional file, which QCommandLineParser cannot
    // express: "--simulate FILE" and "--simulate=FILE" both become the flag
    // plus a positional argument.
    QStringList list;
    for (size_t i = 0; i < args.size(); ++i) {
        const QString arg = QString::fromLocal8Bit(args[i].c_str());
        bool takesValue = false;
        if (i > 0 && QtOption(arg, takesValue)) {
            if (takesValue) ++i;
            continue;
        }
        if (arg.startsWith("--simulate=")) {
            list << "--simulate" << arg.mid(static_cast<int>(sizeof("--simulate=") - 1));
        } else {
            list << arg;
        }
    }

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QString::fromStdString(BaseTitleFor(variant)) +
        ": monitors two-bay RAID enclosures, keeps a daily event log, mails alerts and upgrades firmware.");
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({"h", "help"}, "Show this help and exit.");
    const QCommandLineOption version({"v", "version"}, "Show the version and exit.");
    const QCommandLineOption simulate("simulate", "Use the simulated PC: the scenario in FILE, or the built-in demo scenario.");
    const QCommandLineOption headless("headless", "Run without a window: message boxes go to standard error, event log lines to standard output.");
    const QCommandLineOption logDir("log-dir", "Write the daily log files into DIR (default: beside the executable).", "DIR");
    const QCommandLineOption registry("registry", "Keep the settings in FILE (default: ~/.config/kestrel/kestrel-raid-gui.ini).", "FILE");
    const QCommandLineOption timeScale("time-scale", "Multiply every timer interval and pause by X (X > 0).", "X");
    const QCommandLineOption upgrade("upgrade-firmware",
                                     "Upgrade the firmware of one enclosure with the image in FILE, then exit: 0 when "
                                     "the upgrade was verified, 1 when it was refused or failed.",
                                     "FILE");
    const QCommandLineOption slot("slot", "The enclosure slot for --upgrade-firmware (1, the default, or 2) or --history.", "N");
    const QCommandLineOption sample("write-sample-image",
                                    "Write a valid firmware image (the simulated enclosure's own) to FILE, then exit.",
                                    "FILE");
    const QCommandLineOption testMail("test-mail",
                                      "Send a test mail with the stored settings to every recipient, then exit: 0 "
                                      "when it was delivered, 1 when not. Runs beside a running monitor.");
    const QCommandLineOption status("status",
                                    "Print every enclosure's RAID mode, state, disks, firmware, fan and temperature, "
                                    "then exit with the code below.");
    const QCommandLineOption json("json", "With --status: print JSON (schema: docs/status.schema.json); with --history "
                                          "(schema: docs/history.schema.json).");
    const QCommandLineOption history("history",
                                     "Print the stored readings and events of every enclosure (--csv, the default, or "
                                     "--json), then exit. Runs beside a running monitor.");
    const QCommandLineOption since("since", "With --history: from DATE on (2026-12-09 or 2026-12-09T14:30).", "DATE");
    const QCommandLineOption until("until", "With --history: up to DATE (a day: to its end).", "DATE");
    const QCommandLineOption csv("csv", "With --history: print CSV (columns: docs/history.md).");
    const QCommandLineOption prometheus("prometheus",
                                        "With --status: print metrics in the text exposition format, for a node "
                                        "exporter's textfile collector.");
    const QCommandLineOption metricsFile("metrics-file",
                                         "While monitoring, write the metrics (as --status --prometheus prints them) "
                                         "to FILE after every poll, replaced atomically (setting MetricsFile).",
                                         "FILE");
    const QCommandLineOption eventProgram("event-program",
                                          "Run PROGRAM for every event, with the facts in KESTREL_ variables "
                                          "(docs/event-program.md; setting EventProgram).",
                                          "PROGRAM");
    const QCommandLineOption testEvent("test-event",
                                       "Run the event program once with a test event, then exit with its exit status.");
    parser.addOptions({help, version, simulate, headless, logDir, registry, timeScale, upgrade, slot, sample, testMail,
                       status, json, prometheus, metricsFile, eventProgram, testEvent, history, since, until, csv});
    parser.addPositionalArgument("FILE", "Scenario file for --simulate.", "[FILE]");

    if (!parser.parse(list)) return Fail(program, parser.errorText().toStdString());

    ParseOutcome outcome;
    if (parser.isSet(help)) {
        outcome.kind = ParseOutcome::Kind::Exit;
        // Qt names the program after the application object, or
        // "<executable_name>" before there is one: the usage line names ours.
        QString text = parser.helpText();
        const qsizetype usageEnd = text.indexOf(" [options]");
        if (text.startsWith("Usage: ") && usageEnd > 0)
            text.replace(0, usageEnd, "Usage: " + QString::fromStdString(program));
        outcome.out = text.toStdString() + kHelpEpilog;
        return outcome;
    }
    if (parser.isSet(version)) {
        outcome.kind = ParseOutcome::Kind::Exit;
        outcome.out = BaseTitleFor(variant) + "\n";
        return outcome;
    }

    Options& o = outcome.options;
    const QStringList positional = parser.positionalArguments();
    o.simulate = parser.isSet(simulate);
    if (!positional.isEmpty()) {
        if (!o.simulate) return Fail(program, "unexpected argument '" + positional.first().toStdString() + "'");
        if (positional.size() > 1) return Fail(program, "--simulate takes at most one scenario file");
        o.scenarioFile = positional.first().toStdString();
        QFileInfo info(positional.first());
        if (!info.isFile() || !info.isReadable())
            return Fail(program, "cannot read scenario file '" + o.scenarioFile + "'");
    }
    o.headless = parser.isSet(headless) || !displayAvailable;
    if (parser.isSet(logDir)) {
        o.logDir = parser.value(logDir).toStdString();
        if (o.logDir.empty()) return Fail(program, "--log-dir needs a directory");
        QFileInfo info(parser.value(logDir));
        if (info.exists() && !info.isDir()) return Fail(program, "--log-dir '" + o.logDir + "' is not a directory");
    }
    if (parser.isSet(registry)) {
        o.registryFile = parser.value(registry).toStdString();
        if (o.registryFile.empty()) return Fail(program, "--registry needs a file");
        QFileInfo info(parser.value(registry));
        if (info.exists() && !info.isFile()) return Fail(program, "--registry '" + o.registryFile + "' is not a file");
    }
    if (parser.isSet(timeScale)) {
        bool ok = false;
        const double x = parser.value(timeScale).toDouble(&ok);
        if (!ok || !std::isfinite(x) || x <= 0.0)
            return Fail(program, "--time-scale needs a number above 0, not '" + parser.value(timeScale).toStdString() + "'");
        o.timeScale = x;
    }
    if (parser.isSet(upgrade)) {
        o.upgradeFirmware = parser.value(upgrade).toStdString();
        if (o.upgradeFirmware.empty()) return Fail(program, "--upgrade-firmware needs an image file");
    }
    o.history = parser.isSet(history);
    if (parser.isSet(slot)) {
        if (o.upgradeFirmware.empty() && !o.history) return Fail(program, "--slot goes with --upgrade-firmware or --history");
        const QString n = parser.value(slot);
        if (n != "1" && n != "2") return Fail(program, "--slot needs 1 or 2, not '" + n.toStdString() + "'");
        o.slot = n.toInt();
        if (o.history) o.historySlot = o.slot;
    }
    if (parser.isSet(sample)) {
        o.writeSampleImage = parser.value(sample).toStdString();
        if (o.writeSampleImage.empty()) return Fail(program, "--write-sample-image needs a file");
        if (!o.upgradeFirmware.empty()) return Fail(program, "--write-sample-image and --upgrade-firmware go separately");
    }
    o.testMail = parser.isSet(testMail);
    if (o.testMail && (!o.upgradeFirmware.empty() || !o.writeSampleImage.empty()))
        return Fail(program, "--test-mail goes alone");
    o.status = parser.isSet(status);
    if ((parser.isSet(since) || parser.isSet(until) || parser.isSet(csv)) && !o.history)
        return Fail(program, "--since, --until and --csv go with --history");
    if (o.history) {
        if (o.status || o.testMail || !o.upgradeFirmware.empty() || !o.writeSampleImage.empty() ||
            parser.isSet(prometheus))
            return Fail(program, "--history goes alone");
        if (parser.isSet(json) && parser.isSet(csv)) return Fail(program, "--csv and --json go separately");
        if (parser.isSet(json)) o.historyOutput = HistoryOutput::Json;
        for (const auto& [option, end, target] :
             {std::tuple{&since, false, &o.historySinceMs}, std::tuple{&until, true, &o.historyUntilMs}}) {
            if (!parser.isSet(*option)) continue;
            const std::optional<int64_t> ms = ParseHistoryDate(parser.value(*option).toStdString(), end);
            if (!ms)
                return Fail(program, "--" + option->names().first().toStdString() + " needs a date such as 2026-12-09 "
                                     "or 2026-12-09T14:30, not '" + parser.value(*option).toStdString() + "'");
            *target = *ms;
        }
        return outcome;
    }
    if ((parser.isSet(json) || parser.isSet(prometheus)) && !o.status)
        return Fail(program, "--json and --prometheus go with --status");
    if (parser.isSet(json) && parser.isSet(prometheus)) return Fail(program, "--json and --prometheus go separately");
    if (parser.isSet(json)) o.statusFormat = StatusFormat::Json;
    if (parser.isSet(prometheus)) o.statusFormat = StatusFormat::Prometheus;
    if (o.status && (o.testMail || !o.upgradeFirmware.empty() || !o.writeSampleImage.empty()))
        return Fail(program, "--status goes alone");
    if (parser.isSet(metricsFile)) {
        o.metricsFile = parser.value(metricsFile).toStdString();
        if (o.metricsFile.empty()) return Fail(program, "--metrics-file needs a file");
        o.metricsFileOnCommandLine = true;
        if (QFileInfo(parser.value(metricsFile)).isDir())
            return Fail(program, "--metrics-file '" + o.metricsFile + "' is a directory");
    }
    if (parser.isSet(eventProgram)) {
        o.eventProgram = parser.value(eventProgram).toStdString();
        if (o.eventProgram.empty()) return Fail(program, "--event-program needs a program");
        o.eventProgramOnCommandLine = true;
    }
    o.testEvent = parser.isSet(testEvent);
    if (o.testEvent && (o.status || o.testMail || !o.upgradeFirmware.empty() || !o.writeSampleImage.empty()))
        return Fail(program, "--test-event goes alone");
    return outcome;
}

}  // namespace kestrel

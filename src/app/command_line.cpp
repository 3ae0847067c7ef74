#include "app/command_line.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <cmath>

namespace kestrel {

namespace {

ParseOutcome Fail(const std::string& program, const std::string& message) {
    ParseOutcome outcome;
    outcome.kind = ParseOutcome::Kind::Exit;
    outcome.exitCode = 2;
    outcome.err = program + ": " + message + " (see --help)";
    return outcome;
}

}  // namespace

ParseOutcome ParseCommandLine(const std::vector<std::string>& args, ProductVariant variant,
                              bool displayAvailable) {
    const std::string program = args.empty() ? std::string("kestrel") : QFileInfo(QString::fromStdString(args[0])).fileName().toStdString();

    // --simulate takes an optional file, which QCommandLineParser cannot
    // express: "--simulate FILE" and "--simulate=FILE" both become the flag
    // plus a positional argument.
    QStringList list;
    for (const std::string& a : args) {
        const QString arg = QString::fromLocal8Bit(a.c_str());
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
    parser.addOptions({help, version, simulate, headless, logDir, registry, timeScale});
    parser.addPositionalArgument("FILE", "Scenario file for --simulate.", "[FILE]");

    if (!parser.parse(list)) return Fail(program, parser.errorText().toStdString());

    ParseOutcome outcome;
    if (parser.isSet(help)) {
        outcome.kind = ParseOutcome::Kind::Exit;
        outcome.out = parser.helpText().toStdString();
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
    return outcome;
}

}  // namespace kestrel

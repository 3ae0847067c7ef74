// Every file the program replaces: the old file stays whole when a write,
// the flush or the close fails (a file size limit stands in for a full
// disk), the failure is told, and no temporary file is left behind.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <csignal>
#include <functional>

#include "app/status_command.h"
#include "eventlog/log_file.h"
#include "notify/alert_text_files.h"
#include "platform/file_replace.h"

namespace kestrel {
namespace {

QByteArray Content(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(unreadable)");
}

TEST(FileReplace, AFailedWriteKeepsTheOldFileAndSaysWhy) {
    QTemporaryDir dir;
    const QString path = dir.path() + "/file";
    struct Writer {
        const char* name;
        std::function<bool(const std::string& path, std::string& error)> write;
    };
    const std::string big(64 * 1024, 'x');
    const std::vector<Writer> writers = {
        {"helper", [&](const std::string& p, std::string& e) {
             const ReplaceResult r = ReplaceFile(p, big);
             e = r.error;
             return static_cast<bool>(r);
         }},
        {"day log", [&](const std::string& p, std::string& e) {
             e = "failed";
             return WriteLogFile(p, {big}) == LogWriteStatus::Written;
         }},
        {"alert text", [&](const std::string& p, std::string& e) { return (e = WriteTextLines(p, {big})).empty(); }},
        {"alert text, two steps", [&](const std::string& p, std::string& e) {
             TextFileChange change(p, {big});
             e = change.Prepare();
             if (e.empty()) e = change.Apply();
             return e.empty();
         }},
        {"published state", [&](const std::string& p, std::string& e) {
             StatusReport report;
             report.enclosures.resize(64);
             const ReplaceResult r = PublishState(p, report);
             e = r.error;
             return static_cast<bool>(r);
         }},
    };
    for (const Writer& writer : writers) {
        SCOPED_TRACE(writer.name);
        QFile old(path);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("the old content\r\n");
        old.close();
        const pid_t child = ::fork();
        if (child == 0) {
            ::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{4096, 4096};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            std::string error;
            const bool written = writer.write(path.toStdString(), error);
            ::_exit(written ? 1 : error.empty() ? 2 : 0);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0) << "1: reported as written, 2: failed without a reason";
        EXPECT_EQ(Content(path), "the old content\r\n");
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"file"});
        // Without the limit the same write succeeds.
        std::string error;
        EXPECT_TRUE(writer.write(path.toStdString(), error)) << error;
        EXPECT_GT(Content(path).size(), 4096);
    }
}

TEST(FileReplace, WhatStandsAtTheNameIsReplacedUnlessOnlyAFileMayBe) {
    QTemporaryDir dir;
    const std::string path = dir.path().toStdString() + "/state";
    ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0);
    ReplaceOptions onlyFiles;
    onlyFiles.regularOnly = true;
    const ReplaceResult refused = ReplaceFile(path, "new", onlyFiles);
    EXPECT_EQ(refused.status, ReplaceStatus::NotRegular);
    // A FIFO is not written into (which would wait for a reader), but replaced.
    ReplaceOptions mode;
    mode.mode = 0640;
    ASSERT_TRUE(ReplaceFile(path, "new", mode)) << ReplaceFile(path, "new", mode).error;
    struct stat st {};
    ASSERT_EQ(::lstat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(Content(QString::fromStdString(path)), "new");
    // The mode of the file replaced is kept when none is asked for.
    ASSERT_TRUE(ReplaceFile(path, "newer"));
    ASSERT_EQ(::lstat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

}  // namespace
}  // namespace kestrel

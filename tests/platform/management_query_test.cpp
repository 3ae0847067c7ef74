// The host's answers: a fake firmware tree, the adapter choice, and the real
// host name and addresses of the machine the tests run on.
#include "platform/linux/linux_management_query.h"
#include "platform/management_query.h"
#include "sim/fixed_management_query.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <climits>

namespace kestrel {
namespace {

using linuxio::FirstAdapterAddresses;
using linuxio::LinuxManagementQuery;
using linuxio::NetworkAdapter;

void WriteFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

std::string Board(const LinuxManagementQuery& q, const char* property) {
    return q.QueryManagementProperty("Win32_BaseBoard", property);
}

TEST(LinuxManagementQuery, BoardValuesFromTheFirmwareTreeComeBackClean) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    WriteFile(dir.filePath("board_vendor"), "ASUSTeK COMPUTER INC.\n");
    WriteFile(dir.filePath("board_name"), QByteArray("  PRIME\x01 B450M-A\x7f\t\r\n\n", 21));
    const LinuxManagementQuery q(dir.path().toStdString());
    EXPECT_EQ(Board(q, "Manufacturer"), "ASUSTeK COMPUTER INC.");
    EXPECT_EQ(Board(q, "Product"), "PRIME B450M-A");

    // Empty, only line ends and blanks, and a file that is a directory: empty text.
    WriteFile(dir.filePath("board_vendor"), "");
    EXPECT_EQ(Board(q, "Manufacturer"), "");
    WriteFile(dir.filePath("board_vendor"), " \n\r\n  \n");
    EXPECT_EQ(Board(q, "Manufacturer"), "");
    ASSERT_TRUE(QFile::remove(dir.filePath("board_name")));
    ASSERT_TRUE(QDir(dir.path()).mkdir("board_name"));
    EXPECT_EQ(Board(q, "Product"), "");

    // An oversized file is read only up to a bound.
    WriteFile(dir.filePath("board_vendor"), QByteArray(100000, 'V'));
    EXPECT_EQ(Board(q, "Manufacturer"), std::string(4096, 'V'));

    // A file the process may not read (root reads anything, so only as a user).
    if (::geteuid() != 0) {
        WriteFile(dir.filePath("board_vendor"), "Hidden Vendor\n");
        ASSERT_TRUE(QFile::setPermissions(dir.filePath("board_vendor"), QFileDevice::Permissions{}));
        EXPECT_EQ(Board(q, "Manufacturer"), "");
    }
}

TEST(LinuxManagementQuery, MissingTreeAndUnknownNamesGiveEmptyText) {
    const LinuxManagementQuery q("/nonexistent/dmi/id");
    EXPECT_EQ(Board(q, "Manufacturer"), "");
    EXPECT_EQ(Board(q, "Product"), "");
    EXPECT_EQ(q.QueryManagementProperty("Win32_BaseBoard", "SerialNumber"), "");
    EXPECT_EQ(q.QueryManagementProperty("Win32_Bus", "Manufacturer"), "");
    EXPECT_EQ(q.QueryManagementProperty("", ""), "");
}

TEST(LinuxManagementQuery, FirstAdapterWithAddressesWinsLoopbackNeverDoes) {
    const NetworkAdapter loopback{true, {"127.0.0.1", "::1"}};
    const NetworkAdapter empty{false, {}};
    const NetworkAdapter wired{false, {"192.0.2.2", "fd00::2", "fe80::fc:ff:fe00:1"}};
    const NetworkAdapter wireless{false, {"198.51.100.7"}};
    EXPECT_EQ(FirstAdapterAddresses({loopback, empty, wired, wireless}), "192.0.2.2, fd00::2, fe80::fc:ff:fe00:1");
    EXPECT_EQ(FirstAdapterAddresses({wireless, wired}), "198.51.100.7");
    EXPECT_EQ(FirstAdapterAddresses({loopback, empty}), "");
    EXPECT_EQ(FirstAdapterAddresses({}), "");
}

// What `ip -brief address` lists for the first adapter that is not a loopback
// and has an address, prefix lengths dropped; nullopt when `ip` is missing.
std::optional<std::string> FirstAdapterFromIpTool() {
    QString ip = QStandardPaths::findExecutable("ip");
    if (ip.isEmpty()) ip = QStandardPaths::findExecutable("ip", {"/usr/sbin", "/sbin"});
    if (ip.isEmpty()) return std::nullopt;
    QProcess process;
    process.start(ip, {"-brief", "address"});
    if (!process.waitForFinished(10000) || process.exitCode() != 0) return std::nullopt;
    for (const QString& line : QString::fromLocal8Bit(process.readAllStandardOutput()).split('\n')) {
        const QStringList fields = line.split(' ', Qt::SkipEmptyParts);
        if (fields.size() < 3) continue;
        const QString name = fields[0].section('@', 0, 0);
        QFile flags("/sys/class/net/" + name + "/flags");
        if (flags.open(QIODevice::ReadOnly) && (flags.readAll().trimmed().toUInt(nullptr, 16) & 0x8)) continue;
        std::vector<std::string> addresses;
        for (int i = 2; i < fields.size(); ++i) {
            if (fields[i] == "peer") {  // point-to-point: "local peer remote/len"
                ++i;
                continue;
            }
            addresses.push_back(fields[i].section('/', 0, 0).toStdString());
        }
        return JoinAddresses(addresses);
    }
    return std::string();
}

TEST(LinuxManagementQuery, NamesThisHostAndItsFirstAdapterAddresses) {
    const LinuxManagementQuery q;
    char name[HOST_NAME_MAX + 1] = {};
    ASSERT_EQ(::gethostname(name, sizeof name - 1), 0);
    EXPECT_EQ(q.QueryManagementProperty("Win32_Bus", "SystemName"), std::string(name));

    const std::optional<std::string> expected = FirstAdapterFromIpTool();
    if (!expected) GTEST_SKIP() << "the ip tool is not available here";
    EXPECT_EQ(q.QueryManagementProperty("Win32_NetworkAdapterConfiguration", "IPAddress"), *expected);
}

TEST(FixedManagementQuery, AnswersTheScenarioValuesAndNothingElse) {
    const sim::FixedManagementQuery q({.boardVendor = "Kestrel Boards\n",
                                       .boardName = "KB-450",
                                       .systemName = "SIM-PC",
                                       .ipAddresses = {"192.168.1.20", "", "fe80::1\r\n"}});
    EXPECT_EQ(q.QueryManagementProperty("Win32_BaseBoard", "Manufacturer"), "Kestrel Boards");
    EXPECT_EQ(q.QueryManagementProperty("Win32_BaseBoard", "Product"), "KB-450");
    EXPECT_EQ(q.QueryManagementProperty("Win32_Bus", "SystemName"), "SIM-PC");
    EXPECT_EQ(q.QueryManagementProperty("Win32_NetworkAdapterConfiguration", "IPAddress"), "192.168.1.20, fe80::1");
    EXPECT_EQ(q.QueryManagementProperty("Win32_Bus", "Product"), "");
    EXPECT_EQ(q.QueryManagementProperty("win32_baseboard", "Manufacturer"), "");
}

}  // namespace
}  // namespace kestrel

// The alert mail as it goes out, composed from arbitrary device and
// settings text: the enclosure's status record and identify block, the
// sender's name and address, two recipients and the subject and contents
// files of the alert kind, through the settings file, the settings load,
// the alert composition and the message text.
//
// Input: kind and disk (1 byte), status record (512), identify block (512),
// then length-prefixed fields: name, address, recipient 1, recipient 2,
// subject file, contents file (a length byte of 255 takes the rest).
//
// Properties: the message is lines each ended by CR LF (so the transfer's
// dot-stuffing sees every line start, and no lone "." can end the data);
// the header is exactly the eight lines the program writes, none of them
// from data and none with a control byte; the subject is the title's
// prefix and the subject line, in plain text or as one encoded word; the
// body has one line per body line and line feed in it, the device report
// first and unchanged, and no NUL.
#include <QByteArray>
#include <QFile>

#include "notify/alert_mail.h"
#include "notify/mail_settings_store.h"
#include "notify/test_mail.h"
#include "platform/registry_key.h"
#include "platform/smtp_client.h"
#include "fuzz_support.h"

using namespace kestrel;
using fuzz::Shown;

namespace {

class Fields {
public:
    Fields(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    std::string Next() {
        if (at_ >= size_) return {};
        size_t n = data_[at_++];
        if (n == 255) n = size_ - at_;
        n = std::min(n, size_ - at_);
        std::string s(reinterpret_cast<const char*>(data_ + at_), n);
        at_ += n;
        return s;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

void WriteFile(const QString& path, const std::string& bytes) {
    QFile f(path);
    FUZZ_CHECK(f.open(QIODevice::WriteOnly | QIODevice::Truncate), path.toStdString());
    f.write(bytes.data(), static_cast<qint64>(bytes.size()));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz::MakeApplication(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 + 1024) return -1;
    static const auto scratch = fuzz::ScratchDir();
    static unsigned serial = 0;
    const int kind = 1 + (data[0] & 3);
    const int disk = (data[0] >> 2) & 1;
    DriveTable drives;
    drives.EnclosureFlags[0] = access::kBridgeCdb | 4;
    drives.EnclosureCount = 1;
    std::copy_n(data + 1, 512, drives.CurrentStatus[4].begin());
    std::copy_n(data + 513, 512, drives.KnownIdentify[4].begin());
    Fields fields(data + 1025, size - 1025);
    const std::string name = fields.Next(), address = fields.Next(), to1 = fields.Next(), to2 = fields.Next();
    const std::string subjectFile = fields.Next(), contentsFile = fields.Next();

    // A new name each time: Qt keeps parsed files by name, size and time.
    const QString folder = scratch->path() + "/m" + QString::number(++serial);
    QDir().mkpath(folder);
    const std::string file = (folder + "/settings.ini").toStdString();
    {
        RegistryKey key(file);
        FUZZ_CHECK(key.Open(true), key.Error());
        key.WriteString("Port", "25");
        key.WriteString("SMTP", "mail.example.org");
        key.WriteString("UserName", name);
        key.WriteString("Addr", address);
        key.WriteString("TimeOut", "0");
        key.WriteInteger("EMailSend", 0);
        key.WriteInteger("ToAddrCount", 2);
        key.WriteString("ToAddr_00", to1);
        key.WriteString("ToAddr_01", to2);
        key.WriteString("FilePath", folder.toStdString() + "/");
        key.Close();
    }
    WriteFile(folder + "/" + QString::fromStdString(SubjectFileName(kind)), subjectFile);
    WriteFile(folder + "/" + QString::fromStdString(ContentsFileName(kind)), contentsFile);

    RegistryKey key(file);
    MailFlags flags;
    MemoryStatusBar bar;
    fuzz::QuietBoxes boxes;
    MailSettingsStore store(key, flags, bar, boxes, [] {});
    store.Startup();
    if (flags.Test(mail_flag::kReloadSettings)) store.LoadMailSettings();
    const std::string title = "RAID GUI V0.23.6";
    AlertComposer composer(drives, store, flags, title, [] {
        return std::vector<std::string>{"\nMotherboard: Example Board", "\nHost name: backup-pc", "\nIP: 192.0.2.7"};
    });
    composer.ComposeAlert(kind, 0, disk);
    const AlertMail alert = composer.BuildAlertMail();
    const OutgoingMail mail = MailFromSettings(store, alert);
    const std::string text = FormatMessage(mail.message, "Tue, 08 Dec 2026 10:00:00 +0000", "<1@backup-pc>");
    QDir(folder).removeRecursively();

    std::vector<std::string> lines;
    FUZZ_CHECK(fuzz::SplitCrLf(text, lines), "a CR or LF that does not end a line");
    static const char* const kHeaders[] = {"From: ", "To: ", "Subject: ", "Date: ", "Message-ID: ",
                                           "MIME-Version: 1.0", "Content-Type: text/plain; charset=UTF-8",
                                           "Content-Transfer-Encoding: 8bit"};
    FUZZ_CHECK(lines.size() > std::size(kHeaders), "no body");
    for (size_t i = 0; i < std::size(kHeaders); ++i) {
        FUZZ_CHECK(lines[i].rfind(kHeaders[i], 0) == 0, "header line " + std::to_string(i) + ": " + Shown(lines[i]));
        FUZZ_CHECK(fuzz::HasNoControlBytes(lines[i]), "control byte in a header: " + Shown(lines[i]));
    }
    FUZZ_CHECK(lines[std::size(kHeaders)].empty(), "header not ended after its eight lines: " + Shown(lines[8]));

    const std::string prefix = "[" + title + " Message] ";
    const std::string subject = lines[2].substr(9);
    if (subject.rfind("=?UTF-8?B?", 0) == 0) {
        FUZZ_CHECK(subject.size() >= 12 && subject.substr(subject.size() - 2) == "?=", Shown(subject));
        const QByteArray encoded = QByteArray::fromStdString(subject.substr(10, subject.size() - 12));
        const auto decoded = QByteArray::fromBase64Encoding(encoded, QByteArray::AbortOnBase64DecodingErrors);
        FUZZ_CHECK(decoded && decoded.decoded.startsWith(QByteArray::fromStdString(prefix)), "encoded subject");
    } else {
        FUZZ_CHECK(subject.rfind(prefix, 0) == 0, "subject " + Shown(subject));
    }

    size_t expected = 0;
    for (const std::string& line : alert.body) expected += 1 + static_cast<size_t>(std::count(line.begin(), line.end(), '\n'));
    const size_t bodyStart = std::size(kHeaders) + 1;
    FUZZ_CHECK(lines.size() - bodyStart == expected, "body lines " + std::to_string(lines.size() - bodyStart));
    const std::vector<std::string>& report = composer.DeviceInfo();
    for (size_t i = 0; i < report.size(); ++i) {
        FUZZ_CHECK(fuzz::IsCleanLine(report[i]), "device report line " + Shown(report[i]));
        FUZZ_CHECK(lines[bodyStart + i] == report[i], "device report changed on the way");
    }
    FUZZ_CHECK(text.find('\0') == std::string::npos, "NUL in the message");
    return 0;
}

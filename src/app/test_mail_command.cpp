#include "app/test_mail_command.h"

#include <QCoreApplication>

#include "app/device_io_choice.h"
#include "app/main_module.h"
#include "notify/test_mail.h"
#include "platform/headless_ui.h"

namespace kestrel {

int RunTestMailCommand(const Options& options, ProductVariant variant, std::FILE* out) {
    StderrMessageBoxes messages;
    MemoryStatusBar bar;
    RegistryKey key(options.registryFile.empty() ? RegistryKey::DefaultFile() : options.registryFile);
    MailFlags flags;
    MailSettingsStore store(key, flags, bar, messages);
    store.Startup();

    // The simulated PC answers the system information questions with --simulate.
    const DeviceIoChoice devices = ChooseDeviceIo(options.simulate, options.scenarioFile, variant);
    const std::unique_ptr<ManagementQuery> query = HostQuery(devices);
    const SystemInfoBlock info = BuildSystemInfoBlock(*query);
    const std::vector<std::string> infoLines(info.lines.begin(), info.lines.end());

    DriveTable drives;
    const std::string title = BaseTitleFor(variant);
    AlertComposer composer(drives, store, flags, title, [&infoLines] { return infoLines; });
    QObject ui;
    MailDelivery delivery(&ui, flags, store, composer, bar);
    int code = 1;
    delivery.RequestTestMail(TestMailText(title, infoLines), [&](bool delivered, const std::string& result) {
        std::fprintf(out, "%s\n", result.c_str());
        std::fflush(out);
        code = delivered ? 0 : 1;
        QCoreApplication::quit();
    });
    delivery.Start();
    QCoreApplication::exec();
    delivery.Stop();
    return code;
}

}  // namespace kestrel

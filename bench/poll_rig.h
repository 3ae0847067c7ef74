#pragma once
// The monitoring chain as the main module wires it, over the built-in demo
// PC (two enclosures: SCSI mailbox and ATA paths, USB bridge) and without threads or timers: detection once and committed, both
// enclosures monitored, then StatusPoll with the real transport, status
// reads, decoding, event log pass (in a temporary folder) and status page
// decisions. The constructor runs the first poll, which writes the start-up
// lines, so that the next one is a steady-state poll.
#include <QTemporaryDir>

#include "app/shell.h"
#include "device/detection.h"
#include "device/transport.h"
#include "eventlog/event_log.h"
#include "monitor/status_page.h"
#include "monitor/status_poll.h"
#include "device/status_reader.h"
#include "app/device_io_choice.h"
#include "platform/headless_ui.h"

namespace kestrel::bench {

// Hands the alerts the event rules raise to a sink chosen later (nowhere
// until then), since the mail composer can only be built over the drive
// table the rig owns.
class ForwardedAlerts final : public AlertSink {
public:
    void ComposeAlert(int kind, int enclosure, int disk) override {
        if (to) to->ComposeAlert(kind, enclosure, disk);
    }
    AlertSink* to = nullptr;
};

struct PollRig {
    PollRig()
        : devices(ChooseDeviceIo(true, "")),
          transport(*devices.io, boxes, bar, NoPauses()),
          reader(transport),
          detection(drives, transport, *devices.io, reader),
          shell(ProductVariant::Raid, drives),
          log(drives, alerts, bar,
              [this] {
                  EventLogConfig c;
                  c.logDir = dir.path().toStdString();
                  c.baseTitle = BaseTitleFor(ProductVariant::Raid);
                  c.firstStatusPending = [this] { return shell.Model().firstStatusPending; };
                  return c;
              }()),
          page(ProductVariant::Raid, drives, shell, boxes),
          poll(flags, drives, shell, bar,
               StatusPollLinks{
                   .readStatus = [this](unsigned slot, Block512& b) { return reader.ReadSlot(drives, slot, b).ok; },
                   .lastProgress = [this](int slot) { return log.LastProgress(static_cast<unsigned>(slot)); },
                   .listeners = {[this](const PollRound& round) { log.LogStatusChanges(round.records); },
                                 [this](const PollRound& round) {
                                     if (round.statusPageDue) page.DrawStatusPage(round.forcePage, round.records);
                                 }},
               }) {
        drives.LogicalDriveCount = detection.EnumerateLogicalDrives();
        drives.PhysicalDriveCount = detection.CountPhysicalDrives();
        detection.Redetect(true);
        detection.CommitDetection(true, nullptr);
        shell.Model().deviceChecked = {true, true};
        poll.Run();
    }

    static TransportOptions NoPauses() {
        TransportOptions t;
        t.pause = [](std::chrono::milliseconds) {};
        return t;
    }

    QTemporaryDir dir;
    DeviceIoChoice devices;
    StderrMessageBoxes boxes;
    MemoryStatusBar bar;
    Transport transport;
    StatusReader reader;
    DriveTable drives;
    DriveDetection detection;
    Shell shell;
    ForwardedAlerts alerts;
    EventLog log;
    StatusPage page;
    SchedulerFlags flags;
    StatusPoll poll;
};

}  // namespace kestrel::bench

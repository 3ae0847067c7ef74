#pragma once
// What the Status page shows for the current record of its slot, decided
// without widgets. DrawStatusPage returns the changes to apply; fields left
// empty are not touched, so unchanged disk information is not repainted.
#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/product_variant.h"
#include "monitor/enclosure_health.h"
#include "monitor/window_state.h"
#include "wire/drive_table.h"
#include "wire/enclosure_status.h"
#include "platform/user_interface.h"

namespace kestrel {

enum class TextColour { Default, Red, Blue, Navy };

struct DiskLabelUpdate {  // Label25/Label51 for HDD1, Label26/Label52 for HDD2
    std::optional<std::string> capacity;
    std::optional<std::string> model;
    std::optional<bool> capacityEnabled;
    std::optional<bool> modelEnabled;
    std::optional<TextColour> capacityColour;
};

struct StatusPageUpdate {
    int result = -1;                  // -1: no device box checked, nothing drawn
    std::string firmware;             // Label48
    std::string fanSpeed;             // Label5
    std::string temperature;          // Label7
    TextColour fanColour = TextColour::Blue;
    TextColour temperatureColour = TextColour::Blue;
    bool environmentVisible = false;  // Panel11
    std::string mode;                 // Label17
    bool disksRedrawn = false;
    std::array<DiskLabelUpdate, 2> disks;
    std::optional<std::string> systemCapacity;  // Label27
    std::optional<std::string> stateText;       // Label18
    // The state text's colour: the severity the tray gives that state
    // (green, amber, red); none (grey) while nothing is monitored.
    std::optional<HealthLevel> stateLevel;
    // Per disk: a disk is in the bay (its light on); false draws the bay
    // empty.
    std::array<bool, 2> diskInBay{};
    bool showLogButton = false;                 // Image0_Log
    // Below the state text: the sensor alarm while it lasts, in red, so that
    // "Normal" over a stopped fan is not the whole story; empty otherwise.
    std::string healthLine;
};

// The page's text when neither device box is checked: nothing is read, so
// the last state drawn no longer holds.
inline constexpr const char* kNotMonitoredText = "Not monitored";

// Marks for enclosures with a problem that the user is not looking at: on
// the D1/D2 buttons of the Status page for the slot not shown, and on the
// Status page button when such an enclosure exists or another page is up.
struct AlarmMarks {
    std::array<std::optional<HealthLevel>, 2> slots;
    std::optional<HealthLevel> statusPage;
    std::string statusPageHint;  // the rows behind the Status page button's mark
};
AlarmMarks AlarmMarksFor(const HealthBoard& board, int shownSlot, bool statusPageShown);

struct StatusPageLinks {
    // The hidden option boxes changed by the redraw run their click handler.
    std::function<void()> buzzerMuteClicked;  // CheckBox6
    std::function<void()> autoScanClicked;    // CheckBox7
    // Yes to restoring data onto a new SSD, for the enclosure in this slot.
    std::function<void(int slot)> startRebuild;
};

class StatusPage {
public:
    StatusPage(ProductVariant variant, const DriveTable& drives, WindowState& shell, MessageBoxes& messages,
               StatusPageLinks links = {});

    // polled: a poll's records; the page draws its slot's from there when
    // the poll read it, else the slot's current record.
    StatusPageUpdate DrawStatusPage(bool force, const SlotRecords& polled = {});

    // The hidden "Buzzer Mute" and "Auto Scan" boxes.
    bool BuzzerMute() const { return buzzerMute_; }
    bool AutoScan() const { return autoScan_; }
    void SetBuzzerMute(bool on) { buzzerMute_ = on; }
    void SetAutoScan(bool on) { autoScan_ = on; }

private:
    // The disk texts last put on a disk's two labels.
    struct DiskText {
        std::string capacity;
        std::string model;
    };
    // One disk's labels: the texts of its state, or those kept for the drive.
    DiskLabelUpdate DrawDisk(const EnclosureStatus& status, int disk, unsigned drive, bool switched);
    DiskLabelUpdate DrawDiskState(const EnclosureStatus& status, int disk);

    // The page's prompts never wait for a person: the poll that raised them
    // goes on, and an answer acts later.
    void Notify(const std::string& text, MessageAnswered answered = nullptr);
    // The enclosure a question is about: its slot, drive and identify
    // block, and the serial of the failed disk.
    struct Asker {
        int slot = 0;
        unsigned drive = 0;
        Block512 identify{};
        std::string serial;
    };
    Asker AskerOf(const EnclosureStatus& status) const;
    // The same enclosure is still in the slot, with the same disk failed.
    bool StillAsking(const Asker& asker) const;

    ProductVariant variant_;
    const DriveTable& drives_;
    WindowState& shell_;
    MessageBoxes& messages_;
    StatusPageLinks links_;
    uint8_t shownDiskState_ = 255;
    uint8_t shownProgress_ = 255;
    // The redraw memory above is shared by both slots; it only holds for the
    // slot and drive drawn last, so drawing another one redraws everything.
    int shownSlot_ = -1;
    unsigned shownDrive_ = DriveTable::kPhysicalDrives;
    // Per drive, so that a disk that keeps its labels' text after a switch
    // shows its own enclosure's text, never the other slot's.
    std::array<std::array<DiskText, 2>, DriveTable::kPhysicalDrives> diskTexts_{};
    bool hdd1Prompted_ = false;
    bool buzzerMute_ = false;
    bool autoScan_ = false;
    // Answers that arrive after the page is gone do nothing.
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace kestrel

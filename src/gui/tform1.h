#pragma once
// The main window: owns the widgets, named as the controls they stand for,
// and forwards its handlers to the widget-free behaviour the programs'
// composition root gives it (WindowModule).
#include <QCheckBox>
#include <QLabel>
#include <QMainWindow>
#include <QPointer>
#include <QStackedWidget>
#include <array>
#include <memory>

#include "gui/history_window.h"
#include "gui/picture_button.h"
#include "gui/tray_icon.h"
#include "gui/widget_ui.h"
#include "gui/window_module.h"
#include "monitor/status_page.h"

class QCoreApplication;
class QFrame;
class QLineEdit;
class QProgressBar;
class QTableWidget;
class QPushButton;
class QPlainTextEdit;
class QRadioButton;
class QSpinBox;

namespace kestrel {

class TForm1 : public QMainWindow, public ShellView {
    Q_OBJECT
public:
    // Builds the widgets; nothing runs until Start.
    TForm1();
    ~TForm1() override;
    // Where the module behind the window shows boxes and status bar texts.
    MessageBoxes& messagePort() { return *messagePort_; }
    StatusBar& statusBarPort() { return *statusBarPort_; }
    // Connects the controls to module and runs the creation handler. The
    // module outlives the window's use of it: Detach ends that use.
    void Start(WindowModule& module);
    void Detach();
    // False when start-up failed ("CoInitializeSecurity error!" was shown):
    // the program ends without running.
    bool Started() const { return started_; }
    void Sync(const ShellModel& model) override;
    // Applies what a status page redraw decided; untouched fields stay.
    void ApplyStatusPage(const StatusPageUpdate& update);
    // Opens the event log viewer, modally; one at a time.
    void Image0_LogClick();
    // Opens the History window of the enclosure the Status page shows
    // (beside the main window; one at a time).
    void HistoryClick();
    HistoryWindow* historyWindow() const { return historyWindow_; }
    // Ends the program, also when closing would keep it in the tray (the
    // tray's Quit, SIGTERM, a scenario's quit).
    void Quit();
    // Shows the window again from the tray.
    void ShowFromTray();
    TrayIcon& tray() { return *tray_; }
    // Whether a tray host holds the icon; tests replace it.
    std::function<bool()> TrayAvailable = [] { return TrayIcon::HostAvailable(); };
    // The tray, the E-mail page's mark and the disk pictures follow the
    // enclosures' summary and the mail settings.
    void UpdateDesktop();

    // Controls, named as the window's design names them.
    QStackedWidget* Notebook1 = nullptr;
    PictureButton* Image_Background = nullptr;
    PictureButton* Image_Background_RAID = nullptr;
    PictureButton* Image_Background_HyBrid = nullptr;
    PictureButton* Image_Background_OEM = nullptr;
    std::array<PictureButton*, kPageCount> pageButtons{};   // Image_Sts … Image_About
    std::array<PictureButton*, kPageCount> pageWhite{};     // Image_Sts_White …
    std::array<PictureButton*, kPageCount> pageYellow{};    // Image_Sts_Yellow …
    PictureButton* Image0_D1 = nullptr;
    PictureButton* Image0_D2 = nullptr;
    PictureButton* Image2_D1 = nullptr;
    PictureButton* Image2_D2 = nullptr;
    PictureButton* Image0_D1_White = nullptr;
    PictureButton* Image0_D1_Yellow = nullptr;
    PictureButton* Image0_D2_White = nullptr;
    PictureButton* Image0_D2_Yellow = nullptr;
    PictureButton* Image1_Initialize = nullptr;
    PictureButton* Image1_Schedule = nullptr;
    PictureButton* Image1_Initialize_White = nullptr;
    PictureButton* Image1_Initialize_Yellow = nullptr;
    PictureButton* Image1_Schedule_White = nullptr;
    PictureButton* Image1_Schedule_Yellow = nullptr;
    PictureButton* Image3_OK = nullptr;
    PictureButton* Image3_Ignore = nullptr;
    PictureButton* Image0_Log = nullptr;
    QPushButton* Button_History = nullptr;
    QSpinBox* SpinBox_WarningTemperature = nullptr;  // the E-mail page's Setup: 0 = off
    QLineEdit* Edit_EventProgram = nullptr;          // the E-mail page's Setup: empty = none
    QPushButton* ButtonTestEvent = nullptr;
    QCheckBox* CheckBox_DailyReminder = nullptr;     // the E-mail page's Setup
    PictureButton* Image2_Load = nullptr;
    PictureButton* Image2_Upgrade = nullptr;
    PictureButton* Image1_Set = nullptr;
    PictureButton* Image4 = nullptr;
    PictureButton* Image5 = nullptr;
    PictureButton* Image1 = nullptr;
    QCheckBox* CheckBox1 = nullptr;
    QCheckBox* CheckBox3 = nullptr;
    QCheckBox* CheckBox6 = nullptr;
    QCheckBox* CheckBox7 = nullptr;
    QLabel* StaticText1 = nullptr;
    QLabel* StaticText10 = nullptr;
    QFrame* Panel1 = nullptr;
    QFrame* Panel8 = nullptr;
    QFrame* Panel11 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* Label6 = nullptr;
    QLabel* Label7 = nullptr;
    QLabel* Label15 = nullptr;
    QLabel* Label17 = nullptr;
    QLabel* Label18 = nullptr;
    QLabel* Label25 = nullptr;
    QLabel* Label26 = nullptr;
    QLabel* Label27 = nullptr;
    QLabel* Label43 = nullptr;
    QLabel* Label44 = nullptr;
    QLabel* Label45 = nullptr;
    QLabel* Label46 = nullptr;
    QLabel* Label47 = nullptr;
    QLabel* Label48 = nullptr;
    QLabel* Label51 = nullptr;
    QLabel* Label52 = nullptr;
    QLabel* Label54 = nullptr;
    QLabel* Label_Image = nullptr;  // Upgrade page: the loaded image's firmware code and byte sum
    QLabel* Label63 = nullptr;
    QLabel* Label65 = nullptr;
    QLabel* LabelHealth = nullptr;           // the sensor alarm under the state text
    QCheckBox* CheckBox_KeepInTray = nullptr;  // About page
    QPlainTextEdit* RecentMessages = nullptr;  // About page: the last status bar texts, whole
    QLabel* EmailMark = nullptr;             // on the E-mail page button: mail not set up
    PictureButton* Image4_Idle = nullptr;    // holders: the disk picture with its light off
    PictureButton* Image4_Lit = nullptr;     //   and on
    PictureButton* Image4_Empty = nullptr;   //   and the bay without a disk
    // Marks for an enclosure with a problem that is not in view: on D1 / D2
    // of the Status page and on the Status page button.
    std::array<QLabel*, 2> SlotMarks{};
    QLabel* StatusMark = nullptr;
    QPlainTextEdit* Memo1 = nullptr;
    QPlainTextEdit* Memo2 = nullptr;
    QPlainTextEdit* Memo7 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QProgressBar* ProgressBar2 = nullptr;
    QStatusBar* StatusBar1 = nullptr;
    QLineEdit* Edit9 = nullptr;
    QLabel* Label12 = nullptr;
    QLabel* Panel1Caption = nullptr;

    // The E-mail page.
    QStackedWidget* Notebook2 = nullptr;
    PictureButton* Image3_Setup = nullptr;
    PictureButton* Image3_HDDFail = nullptr;
    PictureButton* Image3_DeviceRemove = nullptr;
    std::array<PictureButton*, 3> emailTabWhite{};   // Image3_Setup_White …
    std::array<PictureButton*, 3> emailTabYellow{};  // Image3_Setup_Yellow …
    QLineEdit* Edit1 = nullptr;
    QLineEdit* Edit2 = nullptr;
    QLineEdit* Edit3 = nullptr;
    QLineEdit* Edit4 = nullptr;
    QLineEdit* Edit5 = nullptr;
    QLineEdit* Edit8 = nullptr;
    QCheckBox* CheckBox8 = nullptr;
    QCheckBox* CheckBox_RequireTls = nullptr;
    QLineEdit* Edit_CAFile = nullptr;
    QTableWidget* StringGrid1 = nullptr;
    QTableWidget* StringGrid2 = nullptr;
    QLineEdit* Edit7 = nullptr;
    QLineEdit* Edit6 = nullptr;
    PictureButton* Image3_1P = nullptr;
    PictureButton* Image3_1M = nullptr;
    PictureButton* Image3_2P = nullptr;
    PictureButton* Image3_2M = nullptr;
    QLineEdit* Edit10 = nullptr;
    QLineEdit* Edit11 = nullptr;
    QPlainTextEdit* Memo6 = nullptr;
    QPlainTextEdit* Memo4 = nullptr;
    QCheckBox* CheckBox2 = nullptr;
    QCheckBox* CheckBox4 = nullptr;
    QPushButton* ButtonTestMail = nullptr;  // "Send test mail"
    // Shows the E-mail page's model in its controls.
    void SyncEmailPage();

    // The Setup page (Hybrid program).
    QStackedWidget* Notebook3 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label_InitializeTarget = nullptr;  // the enclosure Set would erase
    QLabel* Panel8Caption = nullptr;
    QCheckBox* CheckBox_Backup = nullptr;
    std::array<QRadioButton*, 4> periodButtons{};  // RadioButton_10min, _30min, _1Hour, _3Hour
    QLabel* Label_Backup_mess = nullptr;
    PictureButton* Image1_Clock = nullptr;
    // Shows the Setup page's state in its controls.
    void SyncSetupPage();

    // The Upgrade page's buttons.
    void Image2_LoadClick();
    void Image2_UpgradeClick();
    // OpenDialog1: asks for the image file; an empty text when cancelled.
    // Tests replace it.
    std::function<QString()> OpenDialog1;

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildWidgets();
    void BuildStatusPage(QWidget* page);
    void BuildUpgradePage(QWidget* page);
    void BuildSetupPage(QWidget* page);
    void BuildAboutPage(QWidget* page);
    void BuildEmailPage(QWidget* page);
    void ConnectEmailPage();
    void ConnectSetupPage();
    void ConnectHandlers();
    void LoadSkin();
    // The pressed look: the picture moves 2 pixels down while held.
    void AddPressedLook(PictureButton* button);

    std::array<QPoint, kPageCount> pageButtonSlots_{};
    std::unique_ptr<WidgetStatusBar> statusBarPort_;
    std::unique_ptr<WidgetMessageBoxes> messagePort_;
    WindowModule* module_ = nullptr;
    std::unique_ptr<TrayIcon> tray_;
    bool started_ = false;
    bool logViewerOpen_ = false;
    QPointer<HistoryWindow> historyWindow_;
    bool quitting_ = false;
    bool trayHintShown_ = false;  // the first hide to the tray says so
    void UpdateAlarmMarks();
};

// The application object the window needs, made before the window.
std::unique_ptr<QCoreApplication> MakeWindowApplication(int& argc, char** argv);

}  // namespace kestrel

#include "gui/tform1.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QThread>
#include <QFileDialog>
#include <QFocusEvent>
#include <QAbstractScrollArea>
#include <QFrame>
#include <QIcon>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRadioButton>
#include <QPushButton>
#include <QSpinBox>
#include <QHeaderView>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QTableWidget>
#include <QTime>

#include "gui/held_key_guard.h"
#include "gui/skin.h"
#include "gui/history_window.h"
#include "gui/tform5.h"
#include "platform/time_scale.h"

namespace kestrel {

namespace {

constexpr int kHintHidePauseMs = 6000;
constexpr int kRecentMessageLines = 50;
constexpr const char* kSkinText = "#1d2b3a";
constexpr const char* kSkinDisabledText = "#9aa5b1";
constexpr int kClientWidth = 760;
constexpr int kClientHeight = 518;
constexpr QRect kNotebookRect(14, 128, 732, 376);
constexpr std::array<const char*, kPageCount> kPageButtonNames = {"Image_Sts", "Image_Setup", "Image_FWUpg",
                                                                  "Image_Email", "Image_About"};
constexpr std::array<const char*, kPageCount> kPageSkinNames = {"sts", "setup", "fwupg", "email", "about"};

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, QRect geometry, int pointSize = 10,
                  bool bold = false) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setGeometry(geometry);
    QFont font = label->font();
    font.setPointSize(pointSize);
    font.setBold(bold);
    label->setFont(font);
    label->setStyleSheet("QLabel { color: #1d2b3a; background: transparent; } QLabel:disabled { color: #9aa5b1; }");
    return label;
}

const char* ColourName(TextColour colour) {
    switch (colour) {
        case TextColour::Red: return "#ff0000";
        case TextColour::Blue: return "#0000ff";
        case TextColour::Navy: return "#000080";
        case TextColour::Default: break;
    }
    return "#1d2b3a";
}

// The dialog filter "Text|pattern|Text|pattern" in Qt's form; "*.*" means
// every file, also one without a dot.
QString DialogFilter(const char* filter) {
    const QStringList parts = QString::fromLatin1(filter).split('|');
    QStringList out;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString text = parts[i];
        if (parts[i + 1] == "*.*") text.replace("(*.*)", "(*)");
        out << text;
    }
    return out.join(";;");
}

// A state's headline colour: the tray's hues, dark enough to read on the
// light panel.
QString LevelTextColour(std::optional<HealthLevel> level) {
    if (!level) return "#6b7785";
    switch (*level) {
        case HealthLevel::Normal: return "#1f7a2e";
        case HealthLevel::Attention: return "#a86a00";
        case HealthLevel::Alarm: break;
    }
    return "#c81e25";
}

// A round mark in a button's upper right corner.
QLabel* MakeMark(QWidget* button, const char* name) {
    // Small on the small D1 / D2 buttons, so that their caption stays readable.
    const int size = button->height() >= 40 ? 18 : 11;
    auto* mark = new QLabel(size >= 18 ? "!" : "", button);
    mark->setObjectName(name);
    mark->setGeometry(button->width() - size - 2, 2, size, size);
    mark->setAlignment(Qt::AlignCenter);
    mark->hide();
    return mark;
}

void ShowMark(QLabel* mark, std::optional<HealthLevel> level, const QString& hint) {
    mark->setVisible(level.has_value());
    if (!level) return;
    mark->setStyleSheet(QString("QLabel { background: %1; color: white; font-weight: bold; border-radius: %2px; }")
                            .arg(LevelColour(level).name())
                            .arg(mark->width() / 2));
    mark->setToolTip(hint);
    mark->parentWidget()->setToolTip(hint);
}

void SetTextColour(QLabel* label, const char* colour) {
    const QString sheet =
        QString("QLabel { color: %1; background: transparent; } QLabel:disabled { color: #9aa5b1; }").arg(colour);
    if (label->styleSheet() != sheet) label->setStyleSheet(sheet);
}

QLineEdit* MakeEdit(QWidget* parent, const char* name, QRect geometry, int maxLength = 32767) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(name);
    edit->setGeometry(geometry);
    edit->setMaxLength(maxLength);
    return edit;
}

QTableWidget* MakeAddressGrid(QWidget* parent, const char* name, QRect geometry) {
    auto* grid = new QTableWidget(kAddressGridRows, 1, parent);
    grid->setObjectName(name);
    grid->setGeometry(geometry);
    grid->setHorizontalHeaderLabels({"E-Mail Address"});
    grid->horizontalHeader()->setStretchLastSection(true);
    grid->verticalHeader()->hide();
    grid->verticalHeader()->setDefaultSectionSize(20);
    grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid->setSelectionMode(QAbstractItemView::SingleSelection);
    for (int row = 0; row < kAddressGridRows; ++row) grid->setItem(row, 0, new QTableWidgetItem);
    return grid;
}

void SetLines(QPlainTextEdit* memo, const std::vector<std::string>& lines) {
    QStringList list;
    for (const std::string& line : lines) list << QString::fromUtf8(line.c_str());
    if (memo->toPlainText() != list.join('\n')) memo->setPlainText(list.join('\n'));
}

std::vector<std::string> Lines(const QPlainTextEdit* memo) {
    std::vector<std::string> lines;
    const QString text = memo->toPlainText();
    if (text.isEmpty()) return lines;
    for (const QString& line : text.split('\n')) lines.push_back(line.toStdString());
    return lines;
}

void SetText(QLineEdit* edit, const std::string& text) {
    const QString t = QString::fromUtf8(text.c_str());
    if (edit->text() != t) edit->setText(t);
}

}  // namespace

TForm1::TForm1() {
    setObjectName("Form1");
    setWindowTitle("RAID GUI");
    BuildWidgets();
    LoadSkin();
    statusBarPort_ = std::make_unique<WidgetStatusBar>(StatusBar1);
    statusBarPort_->SetListener([this](int panel, const QString& text) {
        RecentMessages->appendPlainText(QTime::currentTime().toString("HH:mm:ss") +
                                        QString("  [panel %1]  ").arg(panel) + text);
    });
    for (QLabel* panel : StatusBar1->findChildren<QLabel*>()) panel->installEventFilter(this);
    messagePort_ = std::make_unique<WidgetMessageBoxes>(this);
    // Every box and dialog of the program, the viewer's and the file
    // dialogs among them, is kept from a key held down elsewhere.
    qApp->installEventFilter(new HeldKeyGuard(this));
}

void TForm1::Start(WindowModule& module) {
    module_ = &module;
    module_->SetShellView(this);
    module_->SetStatusPageView([this](const StatusPageUpdate& u) { ApplyStatusPage(u); });
    ConnectHandlers();
    // Fixed size, single border, minimise but no maximise.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    adjustSize();
    setFixedSize(sizeHint());

    // FormCreate, window side first: hide what starts hidden.
    Panel1->hide();
    Panel8->hide();
    Panel11->hide();
    for (PictureButton* holder : {Image_Background_RAID, Image_Background_HyBrid, Image0_D1_White, Image0_D1_Yellow,
                                  Image0_D2_White, Image0_D2_Yellow, Image1_Initialize_White, Image1_Initialize_Yellow,
                                  Image1_Schedule_White, Image1_Schedule_Yellow})
        holder->hide();
    for (int i = 0; i < kPageCount; ++i) {
        pageWhite[static_cast<size_t>(i)]->hide();
        pageYellow[static_cast<size_t>(i)]->hide();
    }
    Image_Background_OEM->hide();
    Memo1->hide();
    Memo2->hide();
    Memo7->hide();
    for (QLabel* label : {StaticText10, Label18, Label17, Label27, Label25, Label51, Label26, Label52, Label48})
        label->clear();
    CheckBox6->hide();
    CheckBox7->hide();
    Label65->setText(kVersionText);
    // Our icon for the window and the application; hints stay 6 s (scaled
    // like every pause).
    const QIcon icon(":/assets/icon.png");
    setWindowIcon(icon);
    QApplication::setWindowIcon(icon);
    const int hintPause = ScaledMs(kHintHidePauseMs, module_->TimeScale());
    for (QWidget* w : findChildren<QWidget*>()) w->setToolTipDuration(hintPause);
    if (!module_->ComReady()) return;
    module_->SetCloseRequest([this] { Quit(); });
    tray_ = std::make_unique<TrayIcon>(icon, [this] { ShowFromTray(); }, [this] { Quit(); });
    // Notes no notification service takes are the tray's messages.
    module_->desktopAlerts().SetFallback([this](const DesktopNote& note) {
        if (tray_ && TrayAvailable()) tray_->ShowMessage(note);
    });
    module_->SetDesktopView([this] { UpdateDesktop(); });
    // Every picture that acts on a click is a button for the keyboard too.
    for (PictureButton* button : findChildren<PictureButton*>())
        if (button->HasClickHandler()) button->SetKeyboardReachable();
    // Tab leaves text boxes and lists, so that the keyboard gets past them.
    for (QPlainTextEdit* memo : findChildren<QPlainTextEdit*>()) memo->setTabChangesFocus(true);
    for (QTableWidget* grid : findChildren<QTableWidget*>()) grid->setTabKeyNavigation(false);
    module_->FormCreate();
    {
        const QSignalBlocker block(CheckBox_KeepInTray);
        CheckBox_KeepInTray->setChecked(module_->KeepInTray());
    }
    SpinBox_WarningTemperature->setValue(static_cast<int>(module_->WarningTemperature()));
    Edit_EventProgram->setText(QString::fromLocal8Bit(module_->EventProgramPath().c_str()));
    CheckBox_DailyReminder->setChecked(module_->DailyReminderOn());
    UpdateDesktop();
    started_ = true;
}

void TForm1::UpdateDesktop() {
    WindowModule& m = *module_;
    const bool mailNotSetUp = m.desktopAlerts().MailNotSetUp();
    tray_->Update(m.health(), m.Model().caption.empty() ? m.Model().baseTitle : m.Model().caption,
                  mailNotSetUp, DesktopAlerts::MailsWaitingLine(m.MailsWaiting()));
    EmailMark->setVisible(mailNotSetUp);
    pageButtons[kPageEmail]->setToolTip(mailNotSetUp ? "Mail not set up: alerts go to the desktop only" : QString());
    UpdateAlarmMarks();
}

void TForm1::UpdateAlarmMarks() {
    const ShellModel& shell = module_->Model();
    const AlarmMarks marks =
        AlarmMarksFor(module_->health(), shell.statusPageDevice, shell.currentPage == kPageStatus);
    for (size_t s = 0; s < 2; ++s) {
        const std::string hint =
            marks.slots[s] ? "Device" + std::to_string(s + 1) + " needs attention: click to show it" : std::string();
        ShowMark(SlotMarks[s], marks.slots[s], QString::fromUtf8(hint.c_str()));
    }
    ShowMark(StatusMark, marks.statusPage, QString::fromUtf8(marks.statusPageHint.c_str()));
}

void TForm1::Quit() {
    quitting_ = true;
    close();
}

void TForm1::ShowFromTray() {
    // Closing the window again ends the program as usual, unless it goes
    // back to the tray.
    QApplication::setQuitOnLastWindowClosed(true);
    showNormal();
    raise();
    activateWindow();
}

TForm1::~TForm1() { Detach(); }

void TForm1::Detach() {
    // The module reports to no widget after this.
    if (!module_) return;
    module_->SetDesktopView(nullptr);
    module_->desktopAlerts().SetFallback(nullptr);
    module_->SetShellView(nullptr);
    module_->SetStatusPageView(nullptr);
    module_ = nullptr;
}

void TForm1::BuildWidgets() {
    auto* client = new QWidget(this);
    client->setObjectName("ClientArea");
    client->setFixedSize(kClientWidth, kClientHeight);
    setCentralWidget(client);

    auto holder = [&](const char* name) {
        auto* h = new PictureButton(name, client);
        h->hide();
        return h;
    };
    Image_Background = new PictureButton("Image_Background", client);
    Image_Background->setGeometry(0, 0, kClientWidth, kClientHeight);
    Image_Background_RAID = holder("Image_Background_RAID");
    Image_Background_HyBrid = holder("Image_Background_HyBrid");
    Image_Background_OEM = holder("Image_Background_OEM");

    for (int i = 0; i < kPageCount; ++i) {
        const QString name = kPageButtonNames[static_cast<size_t>(i)];
        auto* button = new PictureButton(name, client);
        pageButtonSlots_[static_cast<size_t>(i)] = QPoint(22 + i * 144, 80);
        button->setGeometry(QRect(pageButtonSlots_[static_cast<size_t>(i)], QSize(128, 40)));
        button->setCursor(Qt::PointingHandCursor);
        pageButtons[static_cast<size_t>(i)] = button;
        pageWhite[static_cast<size_t>(i)] = holder((name + "_White").toLatin1().constData());
        if (i == kPageEmail) {
            EmailMark = new QLabel("!", button);
            EmailMark->setObjectName("EmailMark");
            EmailMark->setGeometry(108, 2, 18, 18);
            EmailMark->setAlignment(Qt::AlignCenter);
            EmailMark->setStyleSheet("QLabel { background: #d3222a; color: white; font-weight: bold; border-radius: 9px; }");
            EmailMark->setToolTip("Mail not set up: alerts go to the desktop only");
            EmailMark->hide();
        }
        pageYellow[static_cast<size_t>(i)] = holder((name + "_Yellow").toLatin1().constData());
    }
    StatusMark = MakeMark(pageButtons[kPageStatus], "StatusMark");

    CheckBox1 = new QCheckBox("Device1", client);
    CheckBox1->setObjectName("CheckBox1");
    CheckBox1->setGeometry(560, 22, 90, 24);
    CheckBox3 = new QCheckBox("Device2", client);
    CheckBox3->setObjectName("CheckBox3");
    CheckBox3->setGeometry(656, 22, 90, 24);
    for (QCheckBox* box : {CheckBox1, CheckBox3}) {
        // White text on the dark band, with the style's own box to tick: a
        // style sheet here would leave a bare tick with no box.
        QPalette palette = box->palette();
        palette.setColor(QPalette::WindowText, Qt::white);
        box->setPalette(palette);
        QFont font = box->font();
        font.setBold(true);
        box->setFont(font);
        box->hide();
        // The style's own focus mark is faint on the dark band.
        box->installEventFilter(this);
    }
    CheckBox6 = new QCheckBox("Buzzer Mute", client);
    CheckBox6->setObjectName("CheckBox6");
    CheckBox7 = new QCheckBox("Auto Scan", client);
    CheckBox7->setObjectName("CheckBox7");

    Notebook1 = new QStackedWidget(client);
    Notebook1->setObjectName("Notebook1");
    Notebook1->setGeometry(kNotebookRect);
    Notebook1->setStyleSheet("QStackedWidget { background: transparent; }");
    // The pages lie on the skin's light panel: the texts that the style
    // draws (check boxes, radio buttons) take the skin's colour, not the
    // desktop theme's, which may be light text for a dark theme.
    QPalette skin = Notebook1->palette();
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
        skin.setColor(QPalette::Active, role, QColor(kSkinText));
        skin.setColor(QPalette::Inactive, role, QColor(kSkinText));
        skin.setColor(QPalette::Disabled, role, QColor(kSkinDisabledText));
    }
    skin.setColor(QPalette::Base, QColor("#ffffff"));
    skin.setColor(QPalette::AlternateBase, QColor("#f2f5f8"));
    skin.setColor(QPalette::Button, QColor("#f4f6f8"));
    skin.setColor(QPalette::Window, QColor("#e9eef4"));
    skin.setColor(QPalette::PlaceholderText, QColor("#7d8894"));
    Notebook1->setPalette(skin);
    for (int i = 0; i < kPageCount; ++i) {
        auto* page = new QWidget;
        page->setObjectName(kPageCaptions[static_cast<size_t>(i)]);
        page->setWindowTitle(kPageCaptions[static_cast<size_t>(i)]);
        Notebook1->addWidget(page);
    }
    BuildStatusPage(Notebook1->widget(kPageStatus));
    BuildSetupPage(Notebook1->widget(kPageSetup));
    BuildUpgradePage(Notebook1->widget(kPageUpgrade));
    BuildAboutPage(Notebook1->widget(kPageAbout));
    BuildEmailPage(Notebook1->widget(kPageEmail));
    // The notebook's style sheet stops its palette reaching its children:
    // each control the style draws takes it itself.
    for (QWidget* w : Notebook1->findChildren<QWidget*>())
        if (!qobject_cast<QLabel*>(w) && !qobject_cast<QStackedWidget*>(w) && !qobject_cast<QFrame*>(w))
            w->setPalette(skin);
    for (QWidget* w : Notebook1->findChildren<QFrame*>())
        if (qobject_cast<QAbstractScrollArea*>(w)) w->setPalette(skin);

    StaticText1 = MakeLabel(client, "StaticText1", "Drive detecting", QRect(14, 440, 732, 40), 16, true);
    StaticText1->setAlignment(Qt::AlignCenter);
    StaticText10 = MakeLabel(client, "StaticText10", "", QRect(14, 480, 300, 20));

    Panel1 = new QFrame(client);
    Panel1->setObjectName("Panel1");
    Panel1->setGeometry(kNotebookRect.left() + 236, kNotebookRect.top() + 246, 260, 34);
    Panel1->setStyleSheet("QFrame#Panel1 { background: #fff6d5; border: 1px solid #c9a227; border-radius: 4px; }");
    Panel1Caption = MakeLabel(Panel1, "Panel1Caption", "", QRect(0, 0, 260, 34), 11, true);
    Panel1Caption->setAlignment(Qt::AlignCenter);
    Memo1 = new QPlainTextEdit(client);
    Memo1->setObjectName("Memo1");
    Memo2 = new QPlainTextEdit(client);
    Memo2->setObjectName("Memo2");
    Memo7 = new QPlainTextEdit(client);
    Memo7->setObjectName("Memo7");

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName("StatusBar1");
    StatusBar1->setSizeGripEnabled(false);
    StatusBar1->installEventFilter(this);
    setStatusBar(StatusBar1);
}

void TForm1::BuildStatusPage(QWidget* page) {
    Image0_D1 = new PictureButton("Image0_D1", page);
    Image0_D1->setGeometry(16, 12, 52, 30);
    Image0_D2 = new PictureButton("Image0_D2", page);
    Image0_D2->setGeometry(74, 12, 52, 30);
    Image0_D1_White = new PictureButton("Image0_D1_White", page);
    Image0_D1_Yellow = new PictureButton("Image0_D1_Yellow", page);
    Image0_D2_White = new PictureButton("Image0_D2_White", page);
    Image0_D2_Yellow = new PictureButton("Image0_D2_Yellow", page);
    SlotMarks = {MakeMark(Image0_D1, "SlotMark1"), MakeMark(Image0_D2, "SlotMark2")};
    Image0_Log = new PictureButton("Image0_Log", page);
    Image0_Log->setGeometry(604, 12, 112, 32);
    Button_History = new QPushButton("&History", page);
    Button_History->setObjectName("Button_History");
    // Under the right bay, clear of its caption and texts.
    Button_History->setGeometry(604, 264, 112, 26);
    Button_History->setStyleSheet(
        "QPushButton { color: #1d2b3a; background: #dde4ec; border: 1px solid #b8c4d0; border-radius: 6px; }"
        "QPushButton:focus { border: 2px dashed #ff8c00; }");

    Label43 = MakeLabel(page, "Label43", "Mode:", QRect(150, 16, 60, 24), 11);
    Label17 = MakeLabel(page, "Label17", "", QRect(204, 16, 170, 24), 11, true);
    Label44 = MakeLabel(page, "Label44", "System Capacity:", QRect(380, 16, 136, 24), 11);
    Label27 = MakeLabel(page, "Label27", "", QRect(518, 16, 84, 24), 11, true);

    Label45 = MakeLabel(page, "Label45", "HDD1", QRect(16, 62, 220, 22), 12, true);
    Label45->setAlignment(Qt::AlignCenter);
    Image4 = new PictureButton("Image4", page);
    Image4->setGeometry(90, 88, 72, 92);
    Label25 = MakeLabel(page, "Label25", "", QRect(16, 186, 220, 40), 11, true);
    Label25->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    Label51 = MakeLabel(page, "Label51", "", QRect(16, 214, 220, 44), 9);
    Label51->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    Label51->setWordWrap(true);

    Label46 = MakeLabel(page, "Label46", "HDD2", QRect(496, 62, 220, 22), 12, true);
    Label46->setAlignment(Qt::AlignCenter);
    Image5 = new PictureButton("Image5", page);
    Image5->setGeometry(570, 88, 72, 92);
    Label26 = MakeLabel(page, "Label26", "", QRect(496, 186, 220, 40), 11, true);
    Label26->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    Label52 = MakeLabel(page, "Label52", "", QRect(496, 214, 220, 44), 9);
    Label52->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    Label52->setWordWrap(true);

    Label18 = MakeLabel(page, "Label18", "", QRect(246, 70, 240, 180), 20, true);
    Label18->setAlignment(Qt::AlignCenter);
    LabelHealth = MakeLabel(page, "LabelHealth", "", QRect(226, 252, 280, 24), 11, true);
    LabelHealth->setAlignment(Qt::AlignCenter);
    SetTextColour(LabelHealth, "#ff0000");
    Image4_Idle = new PictureButton("Image4_Idle", page);
    Image4_Lit = new PictureButton("Image4_Lit", page);
    Image4_Empty = new PictureButton("Image4_Empty", page);
    Image4_Idle->hide();
    Image4_Lit->hide();
    Image4_Empty->hide();

    Label47 = MakeLabel(page, "Label47", "Firmware Version:", QRect(16, 326, 140, 24), 10);
    Label48 = MakeLabel(page, "Label48", "", QRect(152, 326, 180, 24), 10, true);

    Panel11 = new QFrame(page);
    Panel11->setObjectName("Panel11");
    Panel11->setGeometry(392, 300, 326, 66);
    Panel11->setStyleSheet("QFrame#Panel11 { background: #dde4ec; border: 1px solid #b8c4d0; border-radius: 6px; }");
    Image1 = new PictureButton("Image1", Panel11);
    Image1->setGeometry(8, 9, 48, 48);
    Label4 = MakeLabel(Panel11, "Label4", "Fan:", QRect(66, 8, 40, 22));
    Label5 = MakeLabel(Panel11, "Label5", "", QRect(160, 8, 70, 22), 10, true);
    Label5->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    Label15 = MakeLabel(Panel11, "Label15", "RPM", QRect(236, 8, 40, 22));
    Label6 = MakeLabel(Panel11, "Label6", "Temperature:", QRect(66, 36, 96, 22));
    Label7 = MakeLabel(Panel11, "Label7", "", QRect(160, 36, 70, 22), 10, true);
    Label7->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    SetTextColour(Label5, "#0000ff");
    SetTextColour(Label7, "#0000ff");
}

void TForm1::BuildSetupPage(QWidget* page) {
    Image1_Initialize = new PictureButton("Image1_Initialize", page);
    Image1_Initialize->setGeometry(16, 12, 140, 36);
    Image1_Initialize->setCursor(Qt::PointingHandCursor);
    Image1_Schedule = new PictureButton("Image1_Schedule", page);
    Image1_Schedule->setGeometry(164, 12, 140, 36);
    Image1_Schedule->setCursor(Qt::PointingHandCursor);
    Image1_Initialize_White = new PictureButton("Image1_Initialize_White", page);
    Image1_Initialize_Yellow = new PictureButton("Image1_Initialize_Yellow", page);
    Image1_Schedule_White = new PictureButton("Image1_Schedule_White", page);
    Image1_Schedule_Yellow = new PictureButton("Image1_Schedule_Yellow", page);
    Image1_Set = new PictureButton("Image1_Set", page);
    Image1_Set->setGeometry(604, 326, 112, 32);
    Image1_Set->setCursor(Qt::PointingHandCursor);
    Image3_OK = new PictureButton("Image3_OK", page);
    Image3_OK->setGeometry(484, 326, 112, 32);
    Image3_Ignore = new PictureButton("Image3_Ignore", page);
    Image3_Ignore->setGeometry(364, 326, 112, 32);
    Image3_OK->hide();
    Image3_Ignore->hide();

    Notebook3 = new QStackedWidget(page);
    Notebook3->setObjectName("Notebook3");
    Notebook3->setGeometry(16, 56, 700, 262);
    auto* initialize = new QWidget;
    initialize->setObjectName("Initialize");
    auto* schedule = new QWidget;
    schedule->setObjectName("Schedule");
    Notebook3->addWidget(initialize);
    Notebook3->addWidget(schedule);

    Label2 = MakeLabel(initialize, "Label2", "\"Initialize\" function will format enclosured HDD and SSD,",
                       QRect(0, 40, 700, 28), 13, true);
    Label3 = MakeLabel(initialize, "Label3", "please confirm to proceed with \"Initialize\" function.",
                       QRect(0, 72, 700, 28), 13, true);
    Label_InitializeTarget = MakeLabel(initialize, "Label_InitializeTarget", "", QRect(0, 104, 700, 26), 12, true);
    for (QLabel* warning : {Label2, Label3, Label_InitializeTarget}) {
        warning->setAlignment(Qt::AlignCenter);
        SetTextColour(warning, "#b00000");
    }
    Panel8 = new QFrame(initialize);
    Panel8->setObjectName("Panel8");
    Panel8->setGeometry(0, 140, 700, 110);
    Panel8->setStyleSheet("QFrame#Panel8 { background: #dde4ec; border: 1px solid #b8c4d0; border-radius: 6px; }");
    Label1 = MakeLabel(Panel8, "Label1", "", QRect(12, 8, 676, 26), 12, true);
    Panel8Caption = MakeLabel(Panel8, "Panel8Caption", "", QRect(12, 38, 676, 26), 12, true);
    Panel8Caption->setAlignment(Qt::AlignCenter);
    ProgressBar2 = new QProgressBar(Panel8);
    ProgressBar2->setObjectName("ProgressBar2");
    ProgressBar2->setGeometry(12, 74, 676, 22);
    ProgressBar2->setRange(0, 100);

    Image1_Clock = new PictureButton("Image1_Clock", schedule);
    Image1_Clock->setGeometry(16, 20, 96, 96);
    CheckBox_Backup = new QCheckBox("Schedule Backup enable", schedule);
    CheckBox_Backup->setObjectName("CheckBox_Backup");
    CheckBox_Backup->setGeometry(140, 20, 300, 26);
    const std::array<const char*, 4> radioNames = {"RadioButton_10min", "RadioButton_30min", "RadioButton_1Hour",
                                                   "RadioButton_3Hour"};
    for (size_t i = 0; i < periodButtons.size(); ++i) {
        auto* radio = new QRadioButton(kBackupPeriodCaptions[i], schedule);
        radio->setObjectName(radioNames[i]);
        radio->setGeometry(170, 56 + static_cast<int>(i) * 30, 200, 26);
        periodButtons[i] = radio;
    }
    Label_Backup_mess = MakeLabel(schedule, "Label_Backup_mess", "Schedule Backup Disable", QRect(140, 190, 540, 28),
                                  12, true);
}

void TForm1::BuildUpgradePage(QWidget* page) {
    Image2_D1 = new PictureButton("Image2_D1", page);
    Image2_D1->setGeometry(16, 12, 52, 30);
    Image2_D2 = new PictureButton("Image2_D2", page);
    Image2_D2->setGeometry(74, 12, 52, 30);
    MakeLabel(page, "Label53", "Current Firmware:", QRect(150, 16, 140, 24), 11);
    Label54 = MakeLabel(page, "Label54", "", QRect(292, 16, 200, 24), 11, true);
    Image2_Load = new PictureButton("Image2_Load", page);
    Image2_Load->setGeometry(16, 326, 112, 32);
    Image2_Upgrade = new PictureButton("Image2_Upgrade", page);
    Image2_Upgrade->setGeometry(604, 326, 112, 32);
    ProgressBar1 = new QProgressBar(page);
    ProgressBar1->setObjectName("ProgressBar1");
    ProgressBar1->setGeometry(16, 290, 700, 20);
    MakeLabel(page, "Label55", "Firmware File:", QRect(16, 70, 120, 24), 11);
    Edit9 = new QLineEdit(page);
    Edit9->setObjectName("Edit9");
    Edit9->setReadOnly(true);
    Edit9->setGeometry(140, 70, 576, 26);
    MakeLabel(page, "Label_ImageCaption", "Image Firmware:", QRect(16, 104, 140, 24), 11);
    Label_Image = MakeLabel(page, "Label_Image", "", QRect(160, 104, 556, 24), 11, true);
    Label12 = MakeLabel(page, "Label12", "", QRect(16, 200, 700, 30), 14, true);
    Label12->setAlignment(Qt::AlignCenter);
}

void TForm1::BuildAboutPage(QWidget* page) {
    Label63 = MakeLabel(page, "Label63", "", QRect(0, 110, 732, 40), 20, true);
    Label63->setAlignment(Qt::AlignCenter);
    auto* versionCaption = MakeLabel(page, "Label64", "Version", QRect(0, 160, 362, 28), 13);
    versionCaption->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    Label65 = MakeLabel(page, "Label65", "", QRect(372, 160, 360, 28), 13, true);
    CheckBox_KeepInTray = new QCheckBox("Keep running in the tray when the window is closed", page);
    CheckBox_KeepInTray->setObjectName("CheckBox_KeepInTray");
    CheckBox_KeepInTray->setGeometry(186, 230, 420, 24);
    MakeLabel(page, "Label_Recent", "Recent messages", QRect(16, 262, 300, 20), 9, true);
    RecentMessages = new QPlainTextEdit(page);
    RecentMessages->setObjectName("RecentMessages");
    RecentMessages->setGeometry(16, 284, 700, 84);
    RecentMessages->setReadOnly(true);
    RecentMessages->setMaximumBlockCount(kRecentMessageLines);
    RecentMessages->setLineWrapMode(QPlainTextEdit::NoWrap);
}

void TForm1::BuildEmailPage(QWidget* page) {
    const std::array<const char*, 3> tabNames = {"Image3_Setup", "Image3_HDDFail", "Image3_DeviceRemove"};
    const std::array<const char*, 3> tabSkins = {"email_setup", "email_hddfail", "email_deviceremove"};
    std::array<PictureButton*, 3> tabs{};
    for (size_t i = 0; i < 3; ++i) {
        tabs[i] = new PictureButton(tabNames[i], page);
        tabs[i]->setGeometry(16 + static_cast<int>(i) * 148, 12, 140, 36);
        tabs[i]->setCursor(Qt::PointingHandCursor);
        emailTabWhite[i] = new PictureButton(QString(tabNames[i]) + "_White", page);
        emailTabYellow[i] = new PictureButton(QString(tabNames[i]) + "_Yellow", page);
        emailTabWhite[i]->SetPicture(SkinPicture(std::string(tabSkins[i]) + "_white"));
        emailTabYellow[i]->SetPicture(SkinPicture(std::string(tabSkins[i]) + "_yellow"));
        emailTabWhite[i]->hide();
        emailTabYellow[i]->hide();
    }
    Image3_Setup = tabs[0];
    Image3_HDDFail = tabs[1];
    Image3_DeviceRemove = tabs[2];
    // OK and Ignore serve every sub-page.
    for (PictureButton* button : {Image3_OK, Image3_Ignore}) {
        button->setParent(page);
        button->show();
    }

    Notebook2 = new QStackedWidget(page);
    Notebook2->setObjectName("Notebook2");
    Notebook2->setGeometry(16, 56, 700, 262);
    for (const char* caption : {"Setup", "HDD_Fail", "DeviceRemove"}) {
        auto* sub = new QWidget;
        sub->setObjectName(caption);
        sub->setWindowTitle(caption);
        Notebook2->addWidget(sub);
    }

    QWidget* setup = Notebook2->widget(kEmailSetup);
    MakeLabel(setup, "Label30", "Port", QRect(0, 8, 140, 24));
    Edit1 = MakeEdit(setup, "Edit1", QRect(150, 8, 100, 24));
    MakeLabel(setup, "Label31", "( Default 25 )", QRect(258, 8, 120, 24));
    MakeLabel(setup, "Label32", "E-Mail Host (SMTP)", QRect(0, 40, 140, 24));
    Edit2 = MakeEdit(setup, "Edit2", QRect(150, 40, 300, 24));
    MakeLabel(setup, "Label33", "Local Information", QRect(0, 78, 200, 24), 11, true);
    MakeLabel(setup, "Label34", "Name", QRect(0, 106, 140, 24));
    Edit3 = MakeEdit(setup, "Edit3", QRect(150, 106, 300, 24));
    MakeLabel(setup, "Label35", "E-Mail Address", QRect(0, 138, 140, 24));
    Edit4 = MakeEdit(setup, "Edit4", QRect(150, 138, 300, 24));
    MakeLabel(setup, "Label36", "Time Out", QRect(490, 8, 200, 24), 10, true);
    MakeLabel(setup, "Label37", "Connect E-mail Host", QRect(490, 34, 200, 24));
    Edit5 = MakeEdit(setup, "Edit5", QRect(490, 62, 40, 24), static_cast<int>(kTimeOutMaxLength));
    MakeLabel(setup, "Label38", "(Sec)", QRect(538, 62, 60, 24));
    CheckBox8 = new QCheckBox("SMTP Login Authentication", setup);
    CheckBox8->setObjectName("CheckBox8");
    CheckBox8->setGeometry(0, 180, 220, 24);
    Edit8 = MakeEdit(setup, "Edit8", QRect(230, 180, 220, 24), static_cast<int>(kPasswordMaxLength));
    Edit8->setEchoMode(QLineEdit::Password);
    Edit8->hide();
    CheckBox_RequireTls = new QCheckBox("Require TLS with a verified certificate", setup);
    CheckBox_RequireTls->setObjectName("CheckBox_RequireTls");
    CheckBox_RequireTls->setGeometry(0, 214, 300, 24);
    MakeLabel(setup, "Label_CAFile", "CA file", QRect(310, 214, 60, 24));
    Edit_CAFile = MakeEdit(setup, "Edit_CAFile", QRect(370, 214, 280, 24));
    Edit_CAFile->setPlaceholderText("the system's certificates");
    MakeLabel(setup, "Label_WarningTemperature", "Warning temperature", QRect(490, 100, 200, 24));
    SpinBox_WarningTemperature = new QSpinBox(setup);
    SpinBox_WarningTemperature->setObjectName("SpinBox_WarningTemperature");
    SpinBox_WarningTemperature->setGeometry(490, 128, 90, 24);
    SpinBox_WarningTemperature->setRange(0, static_cast<int>(kWarningTemperatureMax));
    SpinBox_WarningTemperature->setSpecialValueText("Off");
    SpinBox_WarningTemperature->setSuffix(" \u00b0C");
    SpinBox_WarningTemperature->setToolTip("An alert and a day-log line when a minute's mean temperature passes it");
    CheckBox_DailyReminder = new QCheckBox("Daily reminder", setup);
    CheckBox_DailyReminder->setObjectName("CheckBox_DailyReminder");
    CheckBox_DailyReminder->setGeometry(590, 128, 110, 24);
    CheckBox_DailyReminder->setToolTip("A reminder mail once a day while an enclosure stays degraded, failed or in alarm");
    ButtonTestMail = new QPushButton("Send test mail", setup);
    ButtonTestMail->setObjectName("ButtonTestMail");
    ButtonTestMail->setGeometry(490, 176, 160, 30);
    MakeLabel(setup, "Label_EventProgram", "Event program", QRect(0, 240, 140, 22));
    Edit_EventProgram = MakeEdit(setup, "Edit_EventProgram", QRect(150, 240, 410, 22));
    Edit_EventProgram->setPlaceholderText("none");
    Edit_EventProgram->setToolTip("Run for every event, with the facts in KESTREL_ variables (docs/event-program.md)");
    ButtonTestEvent = new QPushButton("Test", setup);
    ButtonTestEvent->setObjectName("ButtonTestEvent");
    ButtonTestEvent->setGeometry(570, 238, 80, 24);

    struct AlertSubPage {
        QTableWidget*& grid;
        QLineEdit*& entry;
        PictureButton*& add;
        PictureButton*& remove;
        QLineEdit*& subject;
        QPlainTextEdit*& contents;
        QCheckBox*& dontSend;
        const char* names[7];
        const char* infoLine;
    };
    const std::array<AlertSubPage, 2> alertPages = {
        AlertSubPage{StringGrid1, Edit7, Image3_1P, Image3_1M, Edit10, Memo6, CheckBox2,
                     {"StringGrid1", "Edit7", "Image3_1P", "Image3_1M", "Edit10", "Memo6", "CheckBox2"},
                     "Hard Disk Fail info. and "},
        AlertSubPage{StringGrid2, Edit6, Image3_2P, Image3_2M, Edit11, Memo4, CheckBox4,
                     {"StringGrid2", "Edit6", "Image3_2P", "Image3_2M", "Edit11", "Memo4", "CheckBox4"},
                     "Device Removed info. and "}};
    for (size_t k = 0; k < 2; ++k) {
        const AlertSubPage& a = alertPages[k];
        QWidget* sub = Notebook2->widget(static_cast<int>(k) + 1);
        a.grid = MakeAddressGrid(sub, a.names[0], QRect(0, 4, 250, 226));
        a.entry = MakeEdit(sub, a.names[1], QRect(0, 236, 174, 24));
        a.add = new PictureButton(a.names[2], sub);
        a.add->setGeometry(180, 234, 32, 28);
        a.add->SetPicture(SkinPicture("button_add"));
        a.remove = new PictureButton(a.names[3], sub);
        a.remove->setGeometry(218, 234, 32, 28);
        a.remove->SetPicture(SkinPicture("button_remove"));
        MakeLabel(sub, "", "E-Mail Edit", QRect(270, 4, 200, 22), 11, true);
        MakeLabel(sub, "", "Subject", QRect(270, 32, 70, 24));
        a.subject = MakeEdit(sub, a.names[4], QRect(350, 32, 340, 24));
        MakeLabel(sub, "", "Contents", QRect(270, 64, 70, 24));
        a.contents = new QPlainTextEdit(sub);
        a.contents->setObjectName(a.names[5]);
        a.contents->setGeometry(350, 64, 340, 110);
        MakeLabel(sub, "", "Auto Add :", QRect(270, 178, 80, 18), 9);
        MakeLabel(sub, "", a.infoLine, QRect(350, 178, 340, 18), 9);
        MakeLabel(sub, "", "system info. in front of E-Mail contents.", QRect(350, 196, 340, 18), 9);
        a.dontSend = new QCheckBox("Don't send EMail for this event.", sub);
        a.dontSend->setObjectName(a.names[6]);
        a.dontSend->setGeometry(270, 226, 300, 24);
    }
}

void TForm1::ConnectEmailPage() {
    EmailPage& page = module_->emailPage();
    module_->SetEmailPageView([this] { SyncEmailPage(); });
    auto act = [this](std::function<void()> step) {
        return [this, step = std::move(step)] {
            step();
            SyncEmailPage();
        };
    };
    connect(Image3_Setup, &PictureButton::clicked, this, act([&page] { page.SelectSubPage(kEmailSetup); }));
    connect(Image3_HDDFail, &PictureButton::clicked, this, act([&page] { page.SelectSubPage(kEmailHddFail); }));
    connect(Image3_DeviceRemove, &PictureButton::clicked, this,
            act([&page] { page.SelectSubPage(kEmailDeviceRemove); }));
    for (PictureButton* add : {Image3_1P, Image3_2P})
        connect(add, &PictureButton::clicked, this, act([&page] { page.Image3_1PClick(); }));
    for (PictureButton* remove : {Image3_1M, Image3_2M})
        connect(remove, &PictureButton::clicked, this, act([&page] { page.Image3_1MClick(); }));
    connect(Image3_OK, &PictureButton::clicked, this, act([&page] { page.Image3_OKClick(); }));
    connect(Image3_Ignore, &PictureButton::clicked, this, act([&page] { page.Image3_IgnoreClick(); }));
    // The warning temperature is stored with OK and goes back with Ignore.
    connect(Image3_OK, &PictureButton::clicked, this,
            [this] { module_->SetWarningTemperature(static_cast<unsigned>(SpinBox_WarningTemperature->value())); });
    connect(Image3_Ignore, &PictureButton::clicked, this,
            [this] { SpinBox_WarningTemperature->setValue(static_cast<int>(module_->WarningTemperature())); });
    // So is the event program; its test runs what is typed.
    connect(Image3_OK, &PictureButton::clicked, this,
            [this] { module_->SetEventProgram(Edit_EventProgram->text().toLocal8Bit().toStdString()); });
    connect(Image3_Ignore, &PictureButton::clicked, this,
            [this] { Edit_EventProgram->setText(QString::fromLocal8Bit(module_->EventProgramPath().c_str())); });
    connect(ButtonTestEvent, &QPushButton::clicked, this,
            [this] { module_->TestEventClick(Edit_EventProgram->text().toLocal8Bit().toStdString()); });
    // So is the daily reminder.
    connect(Image3_OK, &PictureButton::clicked, this,
            [this] { module_->SetDailyReminder(CheckBox_DailyReminder->isChecked()); });
    connect(Image3_Ignore, &PictureButton::clicked, this,
            [this] { CheckBox_DailyReminder->setChecked(module_->DailyReminderOn()); });
    connect(ButtonTestMail, &QPushButton::clicked, this, act([this] { module_->SendTestMailClick(); }));
    for (PictureButton* button : {Image3_1P, Image3_1M, Image3_2P, Image3_2M}) AddPressedLook(button);
    SyncEmailPage();

    const std::array<QLineEdit*, kMailSettingCount> fields = {Edit1, Edit2, Edit3, Edit4, Edit5, Edit8};
    for (size_t i = 0; i < fields.size(); ++i)
        connect(fields[i], &QLineEdit::textChanged, this,
                [&page, i](const QString& text) { page.FieldEdited(i, text.toStdString()); });
    connect(CheckBox8, &QCheckBox::clicked, this, act([this, &page] { page.CheckBox8Click(CheckBox8->isChecked()); }));
    connect(CheckBox_RequireTls, &QCheckBox::toggled, this, [&page](bool checked) { page.SetRequireTls(checked); });
    connect(Edit_CAFile, &QLineEdit::textChanged, this,
            [&page](const QString& text) { page.SetCaFile(text.toStdString()); });
    const std::array<QTableWidget*, 2> grids = {StringGrid1, StringGrid2};
    const std::array<QLineEdit*, 2> entries = {Edit7, Edit6};
    const std::array<QLineEdit*, 2> subjects = {Edit10, Edit11};
    const std::array<QPlainTextEdit*, 2> memos = {Memo6, Memo4};
    const std::array<QCheckBox*, 2> dontSend = {CheckBox2, CheckBox4};
    for (size_t k = 0; k < 2; ++k) {
        connect(grids[k], &QTableWidget::cellClicked, this,
                [this, &page, k](int row, int) {
                    page.StringGridSelectCell(static_cast<int>(k), row);
                    SyncEmailPage();
                });
        connect(entries[k], &QLineEdit::textChanged, this,
                [&page, k](const QString& text) { page.SetEntry(k, text.toStdString()); });
        connect(subjects[k], &QLineEdit::textChanged, this,
                [&page, k](const QString& text) { page.SetSubject(k, text.toStdString()); });
        QPlainTextEdit* memo = memos[k];
        connect(memo, &QPlainTextEdit::textChanged, this, [&page, k, memo] { page.SetContents(k, Lines(memo)); });
        connect(dontSend[k], &QCheckBox::toggled, this, [&page, k](bool checked) { page.SetDontSend(k, checked); });
    }
}

void TForm1::SyncEmailPage() {
    const EmailPageState& s = module_->emailPage().State();
    std::vector<QSignalBlocker> blockers;
    for (QObject* o : std::initializer_list<QObject*>{Edit1, Edit2, Edit3, Edit4, Edit5, Edit8, CheckBox8,
                                                      CheckBox_RequireTls, Edit_CAFile, Edit6,
                                                      Edit7, Edit10, Edit11, Memo4, Memo6, CheckBox2, CheckBox4,
                                                      StringGrid1, StringGrid2})
        blockers.emplace_back(o);
    const std::array<QLineEdit*, kMailSettingCount> fields = {Edit1, Edit2, Edit3, Edit4, Edit5, Edit8};
    for (size_t i = 0; i < fields.size(); ++i) SetText(fields[i], s.fields[i]);
    CheckBox8->setChecked(s.authentication);
    Edit8->setVisible(s.authentication);
    CheckBox_RequireTls->setChecked(s.requireTls);
    SetText(Edit_CAFile, s.caFile);
    SetText(Edit7, s.entries[0]);
    SetText(Edit6, s.entries[1]);
    SetText(Edit10, s.subjects[0]);
    SetText(Edit11, s.subjects[1]);
    SetLines(Memo6, s.contents[0]);
    SetLines(Memo4, s.contents[1]);
    CheckBox2->setChecked(s.dontSend[0]);
    CheckBox4->setChecked(s.dontSend[1]);
    SetLines(Memo7, s.addresses);
    const EmailPage& page = module_->emailPage();
    for (QTableWidget* grid : {StringGrid1, StringGrid2})
        for (int row = 0; row < kAddressGridRows; ++row)
            grid->item(row, 0)->setText(QString::fromUtf8(page.GridCell(row).c_str()));
    const std::array<PictureButton*, 3> tabs = {Image3_Setup, Image3_HDDFail, Image3_DeviceRemove};
    for (size_t i = 0; i < tabs.size(); ++i)
        tabs[i]->TakePicture(static_cast<int>(i) == s.subPage ? *emailTabYellow[i] : *emailTabWhite[i]);
    Notebook2->setCurrentIndex(s.subPage);
}

void TForm1::ConnectSetupPage() {
    SetupPage& page = module_->setupPage();
    page.SetView([this] { SyncSetupPage(); });
    connect(Image1_Initialize, &PictureButton::clicked, this, [&page] { page.Image1_InitializeClick(); });
    connect(Image1_Schedule, &PictureButton::clicked, this, [&page] { page.Image1_ScheduleClick(); });
    connect(Image1_Set, &PictureButton::clicked, this, [&page] { page.Image1_SetClick(); });
    connect(CheckBox_Backup, &QCheckBox::clicked, this, [&page](bool checked) { page.SetBackupChecked(checked); });
    for (size_t i = 0; i < periodButtons.size(); ++i)
        connect(periodButtons[i], &QRadioButton::clicked, this, [&page, i] { page.SetPeriodChecked(i); });
    SyncSetupPage();
}

void TForm1::SyncSetupPage() {
    const SetupPageState& s = module_->setupPage().State();
    Notebook3->setCurrentIndex(s.subPage);
    Image1_Initialize->TakePicture(s.subPage == kSetupInitialize ? *Image1_Initialize_Yellow : *Image1_Initialize_White);
    Image1_Schedule->TakePicture(s.subPage == kSetupSchedule ? *Image1_Schedule_Yellow : *Image1_Schedule_White);
    Image1_Set->setVisible(s.setVisible);
    const QSignalBlocker block(CheckBox_Backup);
    CheckBox_Backup->setChecked(s.backupChecked);
    CheckBox_Backup->setEnabled(s.backupEnabled);
    // Radio buttons of one parent exclude each other; none checked needs
    // that switched off for a moment.
    for (QRadioButton* radio : periodButtons) radio->setAutoExclusive(false);
    for (size_t i = 0; i < periodButtons.size(); ++i) periodButtons[i]->setChecked(s.periodChecked[i]);
    for (QRadioButton* radio : periodButtons) radio->setAutoExclusive(true);
    Label_Backup_mess->setText(QString::fromLatin1(s.backupMessage.c_str()));
    Label_Backup_mess->setVisible(s.backupMessageVisible);
}

void TForm1::LoadSkin() {
    Image_Background_RAID->SetPicture(SkinPicture("background_raid"));
    Image_Background_HyBrid->SetPicture(SkinPicture("background_hybrid"));
    for (int i = 0; i < kPageCount; ++i) {
        const std::string name = kPageSkinNames[static_cast<size_t>(i)];
        pageWhite[static_cast<size_t>(i)]->SetPicture(SkinPicture("page_" + name + "_white"));
        pageYellow[static_cast<size_t>(i)]->SetPicture(SkinPicture("page_" + name + "_yellow"));
    }
    Image0_D1_White->SetPicture(SkinPicture("slot_d1_white"));
    Image0_D1_Yellow->SetPicture(SkinPicture("slot_d1_yellow"));
    Image0_D2_White->SetPicture(SkinPicture("slot_d2_white"));
    Image0_D2_Yellow->SetPicture(SkinPicture("slot_d2_yellow"));
    Image1_Initialize_White->SetPicture(SkinPicture("setup_initialize_white"));
    Image1_Initialize_Yellow->SetPicture(SkinPicture("setup_initialize_yellow"));
    Image1_Schedule_White->SetPicture(SkinPicture("setup_schedule_white"));
    Image1_Schedule_Yellow->SetPicture(SkinPicture("setup_schedule_yellow"));
    Image1_Initialize->TakePicture(*Image1_Initialize_Yellow);
    Image1_Schedule->TakePicture(*Image1_Schedule_White);
    Image3_OK->SetPicture(SkinPicture("button_ok"));
    Image3_Ignore->SetPicture(SkinPicture("button_ignore"));
    Image0_Log->SetPicture(SkinPicture("button_log"));
    Image2_Load->SetPicture(SkinPicture("button_load"));
    Image2_Upgrade->SetPicture(SkinPicture("button_upgrade"));
    Image1_Set->SetPicture(SkinPicture("button_set"));
    Image4_Idle->SetPicture(SkinPicture("disk_idle"));
    Image4_Lit->SetPicture(SkinPicture("disk"));
    Image4_Empty->SetPicture(SkinPicture("disk_empty"));
    Image4->TakePicture(*Image4_Idle);
    Image5->TakePicture(*Image4_Idle);
    Image1->SetPicture(SkinPicture("fan"));
    Image1_Clock->SetPicture(SkinPicture("clock"));
}

void TForm1::AddPressedLook(PictureButton* button) {
    connect(button, &PictureButton::pressed, this, [button] { button->move(button->pos() + QPoint(0, 2)); });
    connect(button, &PictureButton::released, this, [button] { button->move(button->pos() - QPoint(0, 2)); });
}

void TForm1::ConnectHandlers() {
    WindowModule& shell = *module_;
    for (int page = 0; page < kPageCount; ++page)
        connect(pageButtons[static_cast<size_t>(page)], &PictureButton::clicked, this,
                [&shell, page] { shell.PageClick(page); });
    connect(Image0_D1, &PictureButton::clicked, this, [&shell] { shell.StatusPageDeviceClick(0); });
    connect(Image0_D2, &PictureButton::clicked, this, [&shell] { shell.StatusPageDeviceClick(1); });
    connect(Image2_D1, &PictureButton::clicked, this, [&shell] { shell.UpgradePageDeviceClick(0); });
    connect(Image2_D2, &PictureButton::clicked, this, [&shell] { shell.UpgradePageDeviceClick(1); });
    connect(CheckBox1, &QCheckBox::clicked, this, [&shell](bool checked) { shell.SetDeviceChecked(0, checked); });
    connect(CheckBox3, &QCheckBox::clicked, this, [&shell](bool checked) { shell.SetDeviceChecked(1, checked); });
    for (PictureButton* button : {Image3_OK, Image3_Ignore, Image0_Log, Image2_Load, Image2_Upgrade, Image1_Set})
        AddPressedLook(button);
    connect(Image2_Load, &PictureButton::clicked, this, [this] { Image2_LoadClick(); });
    connect(Image2_Upgrade, &PictureButton::clicked, this, [this] { Image2_UpgradeClick(); });
    OpenDialog1 = [this] {
        return QFileDialog::getOpenFileName(this, "Open", QString(), DialogFilter(kImageFileFilter));
    };
    connect(Image0_Log, &PictureButton::clicked, this, &TForm1::Image0_LogClick);
    connect(Button_History, &QPushButton::clicked, this, &TForm1::HistoryClick);
    // A box unchecked leaves its enclosure out of the summary at once.
    for (QCheckBox* box : {CheckBox1, CheckBox3})
        connect(box, &QCheckBox::clicked, this, [this] { module_->RefreshDesktop(); });
    connect(CheckBox_KeepInTray, &QCheckBox::clicked, this, [this](bool on) { module_->SetKeepInTray(on); });
    ConnectEmailPage();
    ConnectSetupPage();
}

void TForm1::HistoryClick() {
    if (historyWindow_) {
        historyWindow_->raise();
        historyWindow_->activateWindow();
        return;
    }
    auto* window = new HistoryWindow(module_->HistoryPath(),
                                     module_->HistoryKeyOfSlot(module_->Model().statusPageDevice), nullptr,
                                     this);
    window->setAttribute(Qt::WA_DeleteOnClose);
    historyWindow_ = window;
    window->show();
}

void TForm1::Image0_LogClick() {
    if (logViewerOpen_) return;
    logViewerOpen_ = true;
    {
        SchedulerFlags& flags = module_->flags();
        TForm5 viewer(LogViewerLinks{.log = module_->eventLog(),
                                     .monitoringActive =
                                         [&flags] { return (flags.RefreshFlags.load() & refresh::kMonitoring) != 0; },
                                     .timeScale = module_->TimeScale(),
                                     .messages = *messagePort_},
                      this);
        viewer.exec();
    }
    logViewerOpen_ = false;
}

void TForm1::Image2_LoadClick() {
    if (!module_->Image2_LoadClickAllowed()) return;
    const QString path = OpenDialog1 ? OpenDialog1() : QString();
    if (path.isEmpty()) return;
    module_->OpenDialog1CanClose(path.toLocal8Bit().toStdString());
    // What would be written, beside what the enclosure runs (Label54).
    const FirmwareImage& image = module_->firmwareImage();
    Label_Image->setText(image.Loaded() ? QString::fromStdString(ImageFirmwareCode(image) + "   " +
                                                                 ChecksumText(ImageByteSum(image.bytes)))
                                        : QString());
}

void TForm1::Image2_UpgradeClick() { (void)module_->Image2_UpgradeClick(); }  // boxes and panels tell the outcome

void TForm1::Sync(const ShellModel& m) {
    // The caption alone: an application display name would be appended to
    // it by Qt on X11 and Wayland, naming the product twice.
    setWindowTitle(QString::fromUtf8(m.caption.c_str()));
    Label63->setText(QString::fromLatin1(m.aboutText.c_str()));
    Image_Background->TakePicture(m.variant == ProductVariant::Hybrid ? *Image_Background_HyBrid
                                                                      : *Image_Background_RAID);

    const auto slots = PageButtonSlots(PageButtonMask(m.variant));
    for (int i = 0; i < kPageCount; ++i) {
        PictureButton* button = pageButtons[static_cast<size_t>(i)];
        const int slot = slots[static_cast<size_t>(i)];
        button->setVisible(slot >= 0);
        if (slot >= 0) button->move(pageButtonSlots_[static_cast<size_t>(slot)]);
        button->TakePicture(i == m.currentPage ? *pageYellow[static_cast<size_t>(i)]
                                               : *pageWhite[static_cast<size_t>(i)]);
        button->setEnabled(m.pageButtonsEnabled);
    }
    Notebook1->setCurrentIndex(m.currentPage);

    const std::array<QCheckBox*, 2> boxes = {CheckBox1, CheckBox3};
    const std::array<PictureButton*, 2> statusSlots = {Image0_D1, Image0_D2};
    const std::array<PictureButton*, 2> upgradeSlots = {Image2_D1, Image2_D2};
    const std::array<PictureButton*, 2> white = {Image0_D1_White, Image0_D2_White};
    const std::array<PictureButton*, 2> yellow = {Image0_D1_Yellow, Image0_D2_Yellow};
    for (size_t s = 0; s < 2; ++s) {
        const QSignalBlocker block(boxes[s]);
        boxes[s]->setChecked(m.deviceChecked[s]);
        boxes[s]->setVisible(m.deviceBoxVisible[s]);
        boxes[s]->setToolTip(QString::fromUtf8(m.deviceHint[s].c_str()));
        statusSlots[s]->setVisible(m.slotPicturesVisible[s]);
        upgradeSlots[s]->setVisible(m.slotPicturesVisible[s]);
        statusSlots[s]->TakePicture(static_cast<int>(s) == m.statusPageDevice ? *yellow[s] : *white[s]);
        upgradeSlots[s]->TakePicture(static_cast<int>(s) == m.upgradePageDevice ? *yellow[s] : *white[s]);
        statusSlots[s]->setToolTip(QString::fromUtf8(m.deviceHint[s].c_str()));
        upgradeSlots[s]->setToolTip(QString::fromUtf8(m.deviceHint[s].c_str()));
    }
    Image2_Load->setEnabled(m.loadEnabled);
    Image2_Upgrade->setEnabled(m.upgradeEnabled);
    Image0_Log->setVisible(m.logButtonVisible);
    CheckBox7->setEnabled(m.autoScanBoxEnabled);
    Label54->setText(QString::fromUtf8(m.upgradeFirmware.c_str()));
    Label_InitializeTarget->setText(QString::fromUtf8(InitializeTargetText(m).c_str()));
    UpdateAlarmMarks();
    StaticText1->setText(QString::fromLatin1(m.detectText.c_str()));
    StaticText1->setVisible(m.detectTextVisible);

    const MaintenanceView& v = m.maintenance;
    CheckBox1->setEnabled(v.deviceBoxesEnabled);
    CheckBox3->setEnabled(v.deviceBoxesEnabled);
    Edit9->setText(QString::fromLocal8Bit(v.firmwareFile.c_str()));
    Label12->setText(QString::fromLatin1(v.updateText.c_str()));
    // A held close is announced in the step panel; panel 4 keeps the
    // operation's own texts.
    QString step = QString::fromLatin1(v.stepText.c_str());
    if (v.closeHeld) step += "  (closing when done)";
    Panel1Caption->setText(step);
    Panel1->setVisible(v.stepPanelVisible || v.closeHeld);
    if (v.stepPanelVisible || v.closeHeld) Panel1->raise();
    ProgressBar1->setMaximum(v.progressMax);
    ProgressBar1->setValue(std::min(v.progressPosition, v.progressMax));
    ProgressBar2->setMaximum(v.setupProgressMax);
    ProgressBar2->setValue(std::min(v.setupProgressPosition, v.setupProgressMax));
    Label1->setText(QString::fromLatin1(v.setupUpdateText.c_str()));
    Panel8Caption->setText(QString::fromLatin1(v.setupStepText.c_str()));
    Panel8->setVisible(v.setupStepPanelVisible);
}

void TForm1::ApplyStatusPage(const StatusPageUpdate& u) {
    auto text = [](const std::string& t) { return QString::fromUtf8(t.c_str()); };
    const QString headline = LevelTextColour(u.stateLevel);
    if (u.result < 0) {
        // Nothing is read: the last state drawn would mislead.
        if (u.stateText) Label18->setText(text(*u.stateText));
        SetTextColour(Label18, headline.toLatin1().constData());
        // Nor would the last enclosure's details: the page stays neutral.
        for (QLabel* detail : {LabelHealth, Label17, Label27, Label25, Label26, Label51, Label52, Label48})
            detail->clear();
        Panel11->hide();
        for (PictureButton* disk : {Image4, Image5}) disk->TakePicture(*Image4_Idle);
        return;
    }
    Label48->setText(text(u.firmware));
    SetTextColour(Label5, ColourName(u.fanColour));
    SetTextColour(Label7, ColourName(u.temperatureColour));
    Label5->setText(text(u.fanSpeed));
    Label7->setText(text(u.temperature));
    Panel11->setVisible(u.environmentVisible);
    CheckBox6->setChecked(module_->statusPage().BuzzerMute());
    CheckBox7->setChecked(module_->statusPage().AutoScan());
    Label17->setText(text(u.mode));
    const std::array<std::pair<QLabel*, QLabel*>, 2> disks = {std::pair{Label25, Label51}, std::pair{Label26, Label52}};
    for (size_t i = 0; i < 2; ++i) {
        const DiskLabelUpdate& d = u.disks[i];
        if (d.capacityColour) SetTextColour(disks[i].first, ColourName(*d.capacityColour));
        if (d.capacity) disks[i].first->setText(text(*d.capacity).trimmed());
        if (d.model) disks[i].second->setText(text(*d.model).trimmed());
        if (d.capacityEnabled) disks[i].first->setEnabled(*d.capacityEnabled);
        if (d.modelEnabled) disks[i].second->setEnabled(*d.modelEnabled);
    }
    if (u.systemCapacity) Label27->setText(text(*u.systemCapacity));
    if (u.stateText) Label18->setText(text(*u.stateText));
    SetTextColour(Label18, headline.toLatin1().constData());
    const std::array<PictureButton*, 2> pictures = {Image4, Image5};
    for (size_t i = 0; i < 2; ++i) pictures[i]->TakePicture(u.diskInBay[i] ? *Image4_Lit : *Image4_Empty);
    if (u.showLogButton) Image0_Log->show();
    LabelHealth->setText(text(u.healthLine));
}

void TForm1::closeEvent(QCloseEvent* event) {
    // Chosen on the About page: a close by the user (from the window
    // system; the program's own closes, SIGTERM among them, still end it)
    // hides the window and the monitor stays in the tray, where a tray host
    // holds the icon, or nothing would be left to bring it back.
    if (!module_) return;  // never started, or its module has gone
    if (!quitting_ && event->spontaneous() && module_->KeepInTray() && TrayAvailable()) {
        event->ignore();
        // A box closed while the window is hidden must not end the program.
        QApplication::setQuitOnLastWindowClosed(false);
        hide();
        if (!trayHintShown_) {
            trayHintShown_ = true;
            tray_->ShowMessage({windowTitle().toStdString(),
                                "Monitoring goes on in the tray. \"Quit\" in its menu ends the program.",
                                DesktopNote::Urgency::Low});
        }
        return;
    }
    // Closing during an upgrade would leave the flash half written: the
    // close waits for the operation to end.
    if (module_->HoldClose([this] { close(); })) {
        event->ignore();
        return;
    }
    event->accept();
    // The close may arrive inside a nested event loop (a box, a settings
    // load letting events run) whose caller still uses the module: every
    // loop is ended instead, and the program finishes the close once its
    // own loop has returned.
    if (QThread::currentThread()->loopLevel() > 0) {
        QCoreApplication::exit(0);
        return;
    }
    module_->FormClose();
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if ((watched == CheckBox1 || watched == CheckBox3) &&
        (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut)) {
        // The keyboard's box: orange and underlined, as the picture buttons' frame.
        auto* box = static_cast<QCheckBox*>(watched);
        const auto* focus = static_cast<QFocusEvent*>(event);
        const bool marked = event->type() == QEvent::FocusIn && focus->reason() != Qt::MouseFocusReason &&
                            focus->reason() != Qt::ActiveWindowFocusReason && focus->reason() != Qt::PopupFocusReason;
        QPalette palette = box->palette();
        palette.setColor(QPalette::WindowText, marked ? QColor("#ffa31a") : QColor(Qt::white));
        box->setPalette(palette);
        QFont font = box->font();
        font.setUnderline(marked);
        box->setFont(font);
    }
    if (module_ && (watched == StatusBar1 || watched->parent() == StatusBar1) &&
        event->type() == QEvent::MouseButtonDblClick) {
        module_->StatusBar1DblClick();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

std::unique_ptr<QCoreApplication> MakeWindowApplication(int& argc, char** argv) {
    auto app = std::make_unique<QApplication>(argc, argv);
    app->setApplicationDisplayName(QString());
    return app;
}

}  // namespace kestrel

#include "gui/tform5.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTextBlock>
#include <algorithm>

#include "platform/time_scale.h"

namespace kestrel {

namespace {

// Block user states: a line that ended with LF alone in its file, and a
// piece of a long line that the next block continues.
constexpr int kLfLine = 1;
constexpr int kJoinedLine = 2;

constexpr int kClientWidth = 465;
constexpr int kClientHeight = 273;

QColor ToneColour(ViewerTone tone) {
    const QPalette system = QApplication::palette();
    return tone == ViewerTone::WindowText ? system.color(QPalette::Active, QPalette::WindowText)
                                          : system.color(QPalette::Disabled, QPalette::WindowText);
}

}  // namespace

LogMemo::LogMemo(QWidget* parent) : QPlainTextEdit(parent) {
    setObjectName("Memo1");
    QFont font("System");
    font.setBold(true);
    setFont(font);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
}

void LogMemo::Apply(const ViewerUpdate& update) {
    if (update.memo == ViewerUpdate::Memo::Keep) return;
    QScrollBar* bar = verticalScrollBar();
    const bool atEnd = bar->value() == bar->maximum();
    int first = 0;
    if (update.memo == ViewerUpdate::Memo::Replace) {
        setPlainText(update.lines.text);
    } else {
        if (update.lines.count == 0) return;
        // New lines start a line of their own, also after text typed at the end.
        QTextCursor cursor(document());
        cursor.movePosition(QTextCursor::End);
        if (!cursor.block().text().isEmpty()) cursor.insertText(QStringLiteral("\n"));
        first = cursor.blockNumber();
        cursor.insertText(update.lines.text);
    }
    for (size_t i : update.lines.lfLines)
        document()->findBlockByNumber(first + static_cast<int>(i)).setUserState(kLfLine);
    for (size_t i : update.lines.joinedLines)
        document()->findBlockByNumber(first + static_cast<int>(i)).setUserState(kJoinedLine);
    if (update.followEnd && (update.memo == ViewerUpdate::Memo::Replace || atEnd)) bar->setValue(bar->maximum());
}

QString LogMemo::SelectedText() const {
    const QTextCursor cursor = textCursor();
    if (!cursor.hasSelection()) return {};
    const int start = cursor.selectionStart();
    const int end = cursor.selectionEnd();
    QString out;
    for (QTextBlock block = document()->findBlock(start); block.isValid() && block.position() <= end;
         block = block.next()) {
        const int separator = block.position() + block.length() - 1;
        const int from = std::max(start, block.position()) - block.position();
        const int to = std::min(end, separator) - block.position();
        out += block.text().mid(from, to - from);
        if (end <= separator || block.userState() == kJoinedLine) continue;
        out += block.userState() == kLfLine ? QStringLiteral("\n") : QStringLiteral("\r\n");
    }
    return out;
}

QMimeData* LogMemo::createMimeDataFromSelection() const {
    auto* mime = new QMimeData;
    mime->setText(SelectedText());
    return mime;
}

TForm5::TForm5(LogViewerLinks links, QWidget* parent)
    : QDialog(parent), links_(std::move(links)), viewer_(links_.log, links_.monitoringActive) {
    setObjectName("Form5");
    setWindowTitle(kViewerDesignCaption);
    // Only the system menu (with its close command) among the border icons.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(kClientWidth, kClientHeight);

    Memo1 = new LogMemo(this);
    Memo1->setGeometry(0, 0, kClientWidth, 241);
    Button1 = new QPushButton("Real Time Log", this);
    Button1->setObjectName("Button1");
    Button1->setGeometry(286, 240, 83, 33);
    Button2 = new QPushButton("View Log File", this);
    Button2->setObjectName("Button2");
    Button2->setGeometry(376, 240, 81, 33);
    for (QPushButton* b : {Button1, Button2}) b->setAutoDefault(false);

    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setInterval(ScaledMs(kViewerTickMs, links_.timeScale));
    loadTimer_.setInterval(0);

    OpenDialog1 = new QFileDialog(this);
    OpenDialog1->setObjectName("OpenDialog1");
    OpenDialog1->setNameFilters(DialogNameFilters(kOpenDialogFilter));
    OpenDialog1->setFileMode(QFileDialog::ExistingFile);
    OpenDialog1->setAcceptMode(QFileDialog::AcceptOpen);
    // Start where the day's files are.
    OpenDialog1->setDirectory(
        QFileInfo(QString::fromLocal8Bit(links_.log.LogFilePath(QDateTime::currentDateTime()).c_str())).absolutePath());

    connect(Timer1, &QTimer::timeout, this, &TForm5::Timer1Timer);
    connect(&loadTimer_, &QTimer::timeout, this, &TForm5::LoadNextChunk);
    connect(Button1, &QPushButton::clicked, this, &TForm5::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TForm5::Button2Click);

    // Centred on the screen.
    QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
    if (screen) move(screen->availableGeometry().center() - rect().center());
}

void TForm5::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (shown_) return;
    shown_ = true;
    FormShow();
}

void TForm5::FormShow() {
    Apply(viewer_.Show());
    Timer1->start();
}

void TForm5::Timer1Timer() { Apply(viewer_.Timer1Tick()); }

void TForm5::Button1Click() {
    Timer1->stop();
    loadTimer_.stop();
    Apply(viewer_.RealTimeLog());
    Timer1->start();
}

void TForm5::Button2Click() {
    Timer1->stop();
    viewer_.StopMirroring();
    if (OpenDialog1->exec() != QDialog::Accepted) return;
    const QStringList files = OpenDialog1->selectedFiles();
    if (!files.isEmpty()) ViewLogFile(files.first());
}

void TForm5::ViewLogFile(const QString& path) {
    Timer1->stop();
    viewer_.StopMirroring();
    Apply(viewer_.ViewLogFile(path.toLocal8Bit().toStdString()));
    if (viewer_.LoadingFile())
        loadTimer_.start();
    else
        loadTimer_.stop();
}

void TForm5::LoadNextChunk() {
    Apply(viewer_.NextFileChunk());
    if (!viewer_.LoadingFile()) loadTimer_.stop();
}

void TForm5::Apply(const ViewerUpdate& update) {
    if (update.caption) setWindowTitle(QString::fromLocal8Bit(update.caption->c_str()));
    if (update.tone) {
        QPalette palette = Memo1->palette();
        palette.setColor(QPalette::Text, ToneColour(*update.tone));
        Memo1->setPalette(palette);
    }
    Memo1->Apply(update);
    if (!update.error.empty()) links_.messages.Show(update.error, "Error");
}

}  // namespace kestrel

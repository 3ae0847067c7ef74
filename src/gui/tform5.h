#pragma once
// The event log viewer window: owns the widgets, named as the controls they
// stand for, and forwards its handlers to the widget-free LogViewer.
#include <QDialog>
#include <QPlainTextEdit>
#include <QTimer>
#include <functional>

#include "eventlog/log_viewer.h"
#include "platform/user_interface.h"

class QFileDialog;
class QPushButton;

namespace kestrel {

// The viewer's memo. It stays editable; what is typed stays in the window.
// A copy gives each line the end its file had (CR LF unless marked LF).
class LogMemo : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit LogMemo(QWidget* parent);
    void Apply(const ViewerUpdate& update);
    // The selection as a copy delivers it.
    QString SelectedText() const;

protected:
    QMimeData* createMimeDataFromSelection() const override;
};

struct LogViewerLinks {
    const EventLog& log;
    std::function<bool()> monitoringActive;  // the monitoring-active bit
    double timeScale = 1.0;
    MessageBoxes& messages;
};

class TForm5 : public QDialog {
    Q_OBJECT
public:
    explicit TForm5(LogViewerLinks links, QWidget* parent = nullptr);

    // Handlers, named as the window's design names them.
    void FormShow();
    void Timer1Timer();
    void Button1Click();  // "Real Time Log"
    void Button2Click();  // "View Log File": the dialog, then the chosen file
    // The part of Button2Click after the dialog returned a file.
    void ViewLogFile(const QString& path);

    const LogViewer& viewer() const { return viewer_; }
    bool LoadingFile() const { return viewer_.LoadingFile(); }

    LogMemo* Memo1 = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;
    QTimer* Timer1 = nullptr;
    QFileDialog* OpenDialog1 = nullptr;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void Apply(const ViewerUpdate& update);
    void LoadNextChunk();

    LogViewerLinks links_;
    LogViewer viewer_;
    QTimer loadTimer_;
    bool shown_ = false;
};

}  // namespace kestrel

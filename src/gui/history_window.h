#pragma once
// The History window: an enclosure's temperature and fan speed over the
// last hour, day, week, month or year, its events marked on the time axis,
// its state shaded behind, and the reading under the pointer (or under the
// keyboard's cursor: Left, Right, Home, End on the chart). It reads the
// history file on a connection of its own, beside the monitor's writer.
#include <QDialog>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "history/history_store.h"
#include "history/history_view.h"

class QComboBox;
class QLabel;
class QPushButton;

namespace kestrel {

class HistoryChartView;

class HistoryWindow final : public QDialog {
    Q_OBJECT
public:
    // shown: the enclosure the Status page shows, chosen first when the
    // history knows it. now: the end of every range.
    HistoryWindow(std::string path, std::optional<EnclosureKey> shown, std::function<int64_t()> now,
                  QWidget* parent = nullptr);
    ~HistoryWindow() override;

    void ShowRange(HistoryRange range);
    HistoryRange Range() const { return range_; }
    const ChartData& Data() const { return data_; }
    // The text under the chart: the reading at the pointer or cursor.
    QString ReadingShown() const;
    // Called once, when the chart has been drawn for the first time.
    void SetFirstDrawn(std::function<void()> drawn);

    QComboBox* EnclosureBox = nullptr;
    std::vector<QPushButton*> RangeButtons;
    QLabel* ReadingLabel = nullptr;

private:
    void Reload();
    void PointAt(std::optional<size_t> point);

    std::string path_;
    std::function<int64_t()> now_;
    HistoryStore store_;
    std::vector<StoredEnclosure> enclosures_;
    HistoryRange range_ = HistoryRange::Day;
    ChartData data_;
    HistoryChartView* view_ = nullptr;
};

}  // namespace kestrel

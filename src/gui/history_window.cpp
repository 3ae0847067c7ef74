#include "gui/history_window.h"

#include <QBoxLayout>
#include <QComboBox>
#include <QDateTime>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QDateTimeAxis>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>

namespace kestrel {

namespace {

// The skin's colours, and their counterparts on a dark desktop.
struct Look {
    bool dark = false;
    QColor text, grid, temperature, fan, cursor;
};

Look LookFor(const QPalette& palette) {
    Look l;
    l.dark = palette.color(QPalette::Window).lightness() < 128;
    l.text = l.dark ? QColor("#e6edf3") : QColor("#1d2b3a");
    l.grid = l.dark ? QColor("#3a4654") : QColor("#b8c4d0");
    l.temperature = l.dark ? QColor("#ff9f43") : QColor("#d35400");
    l.fan = l.dark ? QColor("#5dade2") : QColor("#1f5f99");
    l.cursor = QColor("#ff8c00");  // the keyboard's mark in the main window
    return l;
}

QColor StateColour(int state, bool dark) {
    // The tray's levels: amber for attention, red for alarm; faint, behind.
    QColor c = state <= 3 ? QColor("#e0a100") : QColor("#d3222a");
    c.setAlpha(dark ? 70 : 55);
    return c;
}

QColor EventColour(const std::string& kind) {
    if (kind == "alarm") return QColor("#d3222a");
    if (kind == "disk" || kind == "bad-sector") return QColor("#8e44ad");
    if (kind == "rebuild" || kind == "scan") return QColor("#2e9d3a");
    if (kind == "upgrade") return QColor("#1f8fbf");
    return QColor("#8a939c");
}

const char* AxisFormat(HistoryRange range) {
    switch (range) {
        case HistoryRange::Hour: return "HH:mm";
        case HistoryRange::Day: return "HH:mm";
        case HistoryRange::Week: return "ddd d";
        case HistoryRange::Month: return "MMM d";
        case HistoryRange::Year: return "MMM yyyy";
    }
    return "HH:mm";
}

}  // namespace

// The chart, with the state bands drawn behind it, the events and the
// cursor in front, and the pointer and keys that move the cursor.
class HistoryChartView final : public QChartView {
public:
    HistoryChartView(QChart* chart, QWidget* parent) : QChartView(chart, parent) {
        setRenderHint(QPainter::Antialiasing);
        setMouseTracking(true);
        setFocusPolicy(Qt::StrongFocus);
        setAccessibleName("History chart");
    }
    const ChartData* data = nullptr;
    QLineSeries* anchor = nullptr;  // maps values to positions
    Look look;
    std::optional<size_t> cursor;
    std::function<void(std::optional<size_t>)> pointed;
    std::function<void()> firstDrawn;

protected:
    QPointF At(double ms, double y) const { return chart()->mapToPosition(QPointF(ms, y), anchor); }

    void drawBackground(QPainter* painter, const QRectF& rect) override {
        painter->fillRect(rect, look.dark ? QColor("#161b22") : QColor("#f4f7fa"));
        if (!data || !anchor) return;
        const QRectF plot = chart()->plotArea();
        painter->fillRect(plot, look.dark ? QColor("#0d1117") : QColor("#ffffff"));
        for (const StateBand& b : data->bands) {
            const double x0 = std::max(plot.left(), At(static_cast<double>(b.fromMs), 0).x());
            const double x1 = std::min(plot.right(), At(static_cast<double>(b.toMs), 0).x());
            if (x1 > x0) painter->fillRect(QRectF(x0, plot.top(), std::max(1.0, x1 - x0), plot.height()), StateColour(b.state, look.dark));
        }
    }

    void drawForeground(QPainter* painter, const QRectF&) override {
        if (!data || !anchor) return;
        const QRectF plot = chart()->plotArea();
        for (const EventMark& e : data->events) {
            const double x = At(static_cast<double>(e.ms), 0).x();
            if (x < plot.left() || x > plot.right()) continue;
            const QColor c = EventColour(e.kind);
            painter->setPen(QPen(c, 1, Qt::DashLine));
            painter->drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
            painter->setPen(Qt::NoPen);
            painter->setBrush(c);
            const QPointF tip(x, plot.bottom());
            painter->drawPolygon(QPolygonF({tip, tip + QPointF(-5, 8), tip + QPointF(5, 8)}));
        }
        if (cursor && *cursor < data->points.size()) {
            const double x = At(static_cast<double>(data->points[*cursor].ms), 0).x();
            painter->setPen(QPen(look.cursor, 2));
            painter->drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
        }
        if (firstDrawn) {
            auto drawn = std::move(firstDrawn);
            firstDrawn = nullptr;
            drawn();
        }
    }

    void mouseMoveEvent(QMouseEvent* event) override {
        QChartView::mouseMoveEvent(event);
        if (!data || !anchor || !pointed) return;
        const QPointF value = chart()->mapToValue(event->position(), anchor);
        pointed(NearestPoint(*data, static_cast<int64_t>(value.x())));
    }

    void keyPressEvent(QKeyEvent* event) override {
        if (!data || data->points.empty() || !pointed) return QChartView::keyPressEvent(event);
        const size_t last = data->points.size() - 1;
        size_t at = cursor.value_or(last);
        const size_t page = std::max<size_t>(1, data->points.size() / 10);
        switch (event->key()) {
            case Qt::Key_Left: at = at > 0 ? at - 1 : 0; break;
            case Qt::Key_Right: at = std::min(last, at + 1); break;
            case Qt::Key_PageUp: at = at > page ? at - page : 0; break;
            case Qt::Key_PageDown: at = std::min(last, at + page); break;
            case Qt::Key_Home: at = 0; break;
            case Qt::Key_End: at = last; break;
            default: return QChartView::keyPressEvent(event);
        }
        pointed(at);
    }
};

HistoryWindow::HistoryWindow(std::string path, std::optional<EnclosureKey> shown, std::function<int64_t()> now,
                             QWidget* parent)
    : QDialog(parent), path_(std::move(path)), now_(std::move(now)) {
    setObjectName("HistoryWindow");
    setWindowTitle("History");
    resize(860, 520);
    const Look look = LookFor(palette());

    auto* layout = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    EnclosureBox = new QComboBox(this);
    EnclosureBox->setObjectName("EnclosureBox");
    EnclosureBox->setAccessibleName("Enclosure");
    auto* enclosureLabel = new QLabel("&Enclosure:", this);
    enclosureLabel->setBuddy(EnclosureBox);
    top->addWidget(enclosureLabel);
    top->addWidget(EnclosureBox, 1);
    for (HistoryRange range : kHistoryRanges) {
        auto* button = new QPushButton(QString("&") + RangeName(range), this);
        button->setObjectName(QString("Range") + RangeName(range));
        button->setCheckable(true);
        button->setAutoExclusive(true);
        connect(button, &QPushButton::clicked, this, [this, range] { ShowRange(range); });
        top->addWidget(button);
        RangeButtons.push_back(button);
    }
    layout->addLayout(top);

    auto* chart = new QChart;
    chart->setTheme(look.dark ? QChart::ChartThemeDark : QChart::ChartThemeLight);
    chart->setBackgroundVisible(false);
    chart->setPlotAreaBackgroundVisible(false);
    chart->legend()->setLabelColor(look.text);
    chart->legend()->setAlignment(Qt::AlignTop);
    auto* temperature = new QLineSeries;
    temperature->setName("Temperature (\u00b0C)");
    temperature->setPen(QPen(look.temperature, 2));
    auto* fan = new QLineSeries;
    fan->setName("Fan (rpm)");
    fan->setPen(QPen(look.fan, 2));
    chart->addSeries(temperature);
    chart->addSeries(fan);
    auto* time = new QDateTimeAxis;
    auto* degrees = new QValueAxis;
    auto* rpm = new QValueAxis;
    for (QAbstractAxis* axis : std::initializer_list<QAbstractAxis*>{time, degrees, rpm}) {
        axis->setLabelsColor(look.text);
        axis->setGridLineColor(look.grid);
        axis->setLinePenColor(look.grid);
    }
    degrees->setLabelFormat("%d");
    degrees->setLabelsColor(look.temperature);
    rpm->setLabelFormat("%d");
    rpm->setLabelsColor(look.fan);
    rpm->setGridLineVisible(false);
    chart->addAxis(time, Qt::AlignBottom);
    chart->addAxis(degrees, Qt::AlignLeft);
    chart->addAxis(rpm, Qt::AlignRight);
    temperature->attachAxis(time);
    temperature->attachAxis(degrees);
    fan->attachAxis(time);
    fan->attachAxis(rpm);

    view_ = new HistoryChartView(chart, this);
    view_->setObjectName("HistoryChart");
    view_->look = look;
    view_->anchor = temperature;
    view_->data = &data_;
    view_->pointed = [this](std::optional<size_t> point) { PointAt(point); };
    layout->addWidget(view_, 1);

    ReadingLabel = new QLabel(this);
    ReadingLabel->setObjectName("ReadingLabel");
    ReadingLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    ReadingLabel->setMinimumHeight(ReadingLabel->fontMetrics().height() * 3);
    ReadingLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    layout->addWidget(ReadingLabel);
    auto* legend = new QLabel(
        QString("Shaded: <span style='color:#e0a100'>&#9632;</span> degraded, rebuilding or scanning &nbsp; "
                "<span style='color:#d3222a'>&#9632;</span> failed, over-heated, fan failure or gone. &nbsp; Marks: "
                "<span style='color:#8e44ad'>&#9650;</span> disk &nbsp; <span style='color:#2e9d3a'>&#9650;</span> "
                "rebuild, scan &nbsp; <span style='color:#d3222a'>&#9650;</span> alarm &nbsp; "
                "<span style='color:#1f8fbf'>&#9650;</span> upgrade"),
        this);
    legend->setWordWrap(true);
    layout->addWidget(legend);

    if (!store_.Open(path_, HistoryStore::Mode::Read)) {
        ReadingLabel->setText(QString::fromStdString("No history yet: " + store_.Error()));
    } else {
        enclosures_ = store_.Enclosures();
        for (const StoredEnclosure& e : enclosures_) EnclosureBox->addItem(QString::fromStdString(EnclosureLabel(e)));
        if (shown)
            if (const int64_t id = FindEnclosure(enclosures_, *shown))
                for (size_t i = 0; i < enclosures_.size(); ++i)
                    if (enclosures_[i].id == id) EnclosureBox->setCurrentIndex(static_cast<int>(i));
    }
    connect(EnclosureBox, &QComboBox::currentIndexChanged, this, [this] { Reload(); });
    ShowRange(HistoryRange::Day);
}

HistoryWindow::~HistoryWindow() = default;

void HistoryWindow::SetFirstDrawn(std::function<void()> drawn) { view_->firstDrawn = std::move(drawn); }

QString HistoryWindow::ReadingShown() const { return ReadingLabel->text(); }

void HistoryWindow::ShowRange(HistoryRange range) {
    range_ = range;
    for (size_t i = 0; i < RangeButtons.size(); ++i) RangeButtons[i]->setChecked(kHistoryRanges[i] == range);
    Reload();
}

void HistoryWindow::Reload() {
    const int index = EnclosureBox->currentIndex();
    std::vector<ReadingRow> readings;
    std::vector<EventRow> events;
    int64_t to = now_ ? now_() : QDateTime::currentMSecsSinceEpoch();
    if (index >= 0 && static_cast<size_t>(index) < enclosures_.size()) {
        const StoredEnclosure& e = enclosures_[static_cast<size_t>(index)];
        // A history that lies ahead of this clock (a simulated one) ends
        // at its own last reading.
        to = std::max(to, e.lastMs + 60000);
        const int64_t from = to - RangeMs(range_);
        readings = store_.Readings(e.id, from / 60000, to / 60000 + 1);
        events = store_.Events(e.id, from, to);
    }
    const int64_t from = to - RangeMs(range_);
    data_ = BuildChart(readings, events, from, to, static_cast<size_t>(std::max(200, view_->width())));

    QChart* chart = view_->chart();
    auto* temperature = static_cast<QLineSeries*>(chart->series().at(0));
    auto* fan = static_cast<QLineSeries*>(chart->series().at(1));
    QList<QPointF> t, f;
    t.reserve(static_cast<qsizetype>(data_.points.size()));
    f.reserve(static_cast<qsizetype>(data_.points.size()));
    for (const ChartPoint& p : data_.points) {
        if (!p.sensors) continue;
        t.append(QPointF(static_cast<double>(p.ms), p.tempMean));
        f.append(QPointF(static_cast<double>(p.ms), p.fanMean));
    }
    temperature->replace(t);
    fan->replace(f);
    auto* time = static_cast<QDateTimeAxis*>(chart->axes(Qt::Horizontal).at(0));
    time->setRange(QDateTime::fromMSecsSinceEpoch(from), QDateTime::fromMSecsSinceEpoch(to));
    time->setFormat(AxisFormat(range_));
    time->setTickCount(7);
    const QList<QAbstractAxis*> vertical = chart->axes(Qt::Vertical);
    static_cast<QValueAxis*>(vertical.at(0))->setRange(data_.tempLow, data_.tempHigh);
    static_cast<QValueAxis*>(vertical.at(1))->setRange(data_.fanLow, data_.fanHigh);
    view_->cursor.reset();
    PointAt(data_.points.empty() ? std::nullopt : std::optional<size_t>(data_.points.size() - 1));
    if (data_.points.empty() && store_.IsOpen())
        ReadingLabel->setText(QString("No readings in the last ") + QString(RangeName(range_)).toLower() + ".");
}

void HistoryWindow::PointAt(std::optional<size_t> point) {
    view_->cursor = point;
    if (point) ReadingLabel->setText(QString::fromStdString(ReadingText(data_, *point)));
    view_->viewport()->update();
}

}  // namespace kestrel

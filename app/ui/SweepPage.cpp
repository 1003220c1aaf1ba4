#include "ui/SweepPage.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineSeries>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QValueAxis>
#include <QVBoxLayout>

#include <korvik/LinkTools.h>
#include <korvik/USBDevice.h>

#include "ui/CsvExport.h"
#include "../../lib/file/SafeWrite.h" // the one file writer, shared with the library
#include "shell/EvUSBBoard.h"

namespace {

// How each variable is shown and what the page starts with: the ends in
// `unit`, the step in `step_unit` (a power step is a difference in dB).
struct VariableView {
    SweepVariable variable;
    const char* caption;
    const char* unit;
    const char* step_unit;
    double scale; // SI per shown unit
    double low, high;
    int decimals;
    double start, stop, step;
};

const VariableView views[] = {
    {SweepVariable::POWER, QT_TRANSLATE_NOOP("SweepPage", "Transmit power"), "dBm", "dB", 1, -60, 30, 1, -20, 10, 2},
    {SweepVariable::PATH_LOSS, QT_TRANSLATE_NOOP("SweepPage", "Path loss (virtual air)"), "dB", "dB", 1, 0, 250, 1, 60, 140, 5},
    {SweepVariable::OFFSET, QT_TRANSLATE_NOOP("SweepPage", "Carrier offset"), "kHz", "kHz", 1e3, -5000, 5000, 3, -50, 50, 10},
    {SweepVariable::BITRATE, QT_TRANSLATE_NOOP("SweepPage", "Bitrate"), "kbit/s", "kbit/s", 1e3, 0.1, 5000, 3, 10, 100, 10},
};

const VariableView& view_of(SweepVariable v)
{
    for (const VariableView& view : views)
        if (view.variable == v)
            return view;
    return views[0];
}

QString shown(double si, SweepVariable v)
{
    const VariableView& view = view_of(v);
    return QStringLiteral("%1 %2").arg(QString::number(si / view.scale, 'f', view.decimals), QLatin1String(view.unit));
}

QDoubleSpinBox* number_box(const char* name)
{
    auto* box = new QDoubleSpinBox;
    box->setObjectName(QLatin1String(name));
    box->setKeyboardTracking(false);
    return box;
}

} // namespace

double SweepPage::shown_scale(SweepVariable v)
{
    return view_of(v).scale;
}

SweepPage::SweepPage(BoardChoice choice, QWidget* parent) : QWidget(parent), boards(std::move(choice))
{
    setObjectName("SweepPage");
    variable_box = new QComboBox;
    variable_box->setObjectName("sweep_variable");
    for (const VariableView& view : views)
        variable_box->addItem(tr(view.caption), int(view.variable));
    start_box = number_box("sweep_from");
    stop_box = number_box("sweep_to");
    step_box = number_box("sweep_step");
    step_box->setToolTip(tr("The distance between points; when searching, the resolution of the value found."));
    count_box = new QSpinBox;
    count_box->setObjectName("sweep_count");
    count_box->setRange(1, 1000000);
    count_box->setValue(100);
    count_box->setToolTip(tr("Packets per point; when searching, per batch until the point is decided."));
    length_box = new QSpinBox;
    length_box->setObjectName("sweep_length");
    length_box->setRange(8, 1400);
    length_box->setValue(32);
    length_box->setSuffix(tr(" bytes"));
    find_box = new QCheckBox(tr("&Find where the PER crosses"));
    find_box->setObjectName("sweep_find");
    target_box = number_box("sweep_target");
    target_box->setRange(0.01, 99.99);
    target_box->setDecimals(2);
    target_box->setValue(1);
    target_box->setSuffix(QStringLiteral(" %"));
    fast_box = new QCheckBox(tr("Simulated t&ime (no waiting for air time)"));
    fast_box->setObjectName("sweep_fast");
    fast_box->setToolTip(tr("Between simulated boards on the virtual air: packets arrive as fast as the computer allows."));
    fast_box->setChecked(KORVIK::is_virtual_air_fast());

    auto* range = new QHBoxLayout;
    range->addWidget(start_box, 1);
    range->addWidget(new QLabel(tr("to")));
    range->addWidget(stop_box, 1);
    range->addWidget(new QLabel(tr("in steps of")));
    range->addWidget(step_box, 1);
    auto* find = new QHBoxLayout;
    find->addWidget(find_box);
    find->addWidget(target_box);
    find->addStretch(1);

    auto* form = new QFormLayout;
    form->addRow(tr("&Variable:"), variable_box);
    auto* from_label = new QLabel(tr("Fro&m:"));
    from_label->setBuddy(start_box);
    form->addRow(from_label, range);
    form->addRow(tr("Packets per &point:"), count_box);
    form->addRow(tr("Packet le&ngth:"), length_box);
    form->addRow(find);
    form->addRow(fast_box);

    start_button = new QPushButton(tr("&Start sweep"));
    start_button->setObjectName("sweep_start");
    stop_button = new QPushButton(tr("St&op sweep"));
    stop_button->setObjectName("sweep_stop");
    export_button = new QPushButton(tr("&Export CSV..."));
    export_button->setObjectName("sweep_export");
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(start_button);
    buttons->addWidget(stop_button);
    buttons->addStretch(1);
    buttons->addWidget(export_button);

    progress = new QProgressBar;
    progress->setObjectName("sweep_progress");
    progress->setRange(0, 1000);
    progress->setValue(0);
    progress->setTextVisible(false);
    result = new QLabel;
    result->setObjectName("sweep_result");
    result->setTextInteractionFlags(Qt::TextSelectableByMouse);
    result->setWordWrap(true);

    chart = new QChart;
    chart->legend()->setAlignment(Qt::AlignBottom);
    per_series = new QLineSeries;
    per_series->setName(tr("Packet error rate (%)"));
    per_series->setPointsVisible(true);
    rssi_series = new QLineSeries;
    rssi_series->setName(tr("Mean RSSI (dBm)"));
    rssi_series->setPointsVisible(true);
    found_series = new QLineSeries;
    found_series->setName(tr("Found"));
    chart->addSeries(per_series);
    chart->addSeries(rssi_series);
    chart->addSeries(found_series);
    x_axis = new QValueAxis;
    auto* per_axis = new QValueAxis;
    per_axis->setTitleText(tr("PER (%)"));
    per_axis->setRange(0, 100);
    auto* rssi_axis = new QValueAxis;
    rssi_axis->setTitleText(tr("RSSI (dBm)"));
    rssi_axis->setRange(-140, 0);
    chart->addAxis(x_axis, Qt::AlignBottom);
    chart->addAxis(rssi_axis, Qt::AlignLeft);
    chart->addAxis(per_axis, Qt::AlignRight);
    for (QLineSeries* s : {per_series, found_series}) {
        s->attachAxis(x_axis);
        s->attachAxis(per_axis);
    }
    rssi_series->attachAxis(x_axis);
    rssi_series->attachAxis(rssi_axis);
    apply_palette();
    auto* view = new QChartView(chart);
    view->setObjectName("sweep_chart");
    view->setRenderHint(QPainter::Antialiasing);
    view->setMinimumSize(520, 300);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(buttons);
    layout->addWidget(progress);
    layout->addWidget(result);
    layout->addWidget(view, 1);

    connect(variable_box, &QComboBox::currentIndexChanged, this, &SweepPage::variable_changed);
    connect(find_box, &QCheckBox::toggled, this, &SweepPage::update_controls);
    connect(start_button, &QPushButton::clicked, this, &SweepPage::start);
    connect(stop_button, &QPushButton::clicked, this, &SweepPage::stop);
    connect(export_button, &QPushButton::clicked, this, &SweepPage::export_csv);
    timer.setSingleShot(true);
    connect(&timer, &QTimer::timeout, this, &SweepPage::step);
    variable_changed();
}

SweepPage::~SweepPage()
{
    // the sweep restores the swept setting; the air goes back to its own time
    sweep.reset();
    if (fast_set)
        KORVIK::set_virtual_air_fast(fast_before);
}

SweepVariable SweepPage::variable() const
{
    return SweepVariable(variable_box->currentData().toInt());
}

void SweepPage::variable_changed()
{
    const VariableView& view = view_of(variable());
    for (QDoubleSpinBox* box : {start_box, stop_box, step_box}) {
        box->setDecimals(view.decimals);
        box->setSuffix(QLatin1Char(' ') + QLatin1String(box == step_box ? view.step_unit : view.unit));
    }
    start_box->setRange(view.low, view.high);
    stop_box->setRange(view.low, view.high);
    // a step may go down as well as up
    step_box->setRange(-(view.high - view.low), view.high - view.low);
    start_box->setValue(view.start);
    stop_box->setValue(view.stop);
    step_box->setValue(view.step);
    x_axis->setTitleText(QStringLiteral("%1 (%2)").arg(variable_box->currentText(), QLatin1String(view.unit)));
    x_axis->setRange(std::min(view.start, view.stop), std::max(view.start, view.stop));
}

void SweepPage::set_startable(bool on)
{
    startable = on;
    update_controls();
}

void SweepPage::update_controls()
{
    const bool running = is_running();
    start_button->setEnabled(!running && startable);
    stop_button->setEnabled(running);
    export_button->setEnabled(!running && !points_.empty());
    for (QWidget* w : {static_cast<QWidget*>(variable_box), static_cast<QWidget*>(start_box),
                       static_cast<QWidget*>(stop_box), static_cast<QWidget*>(step_box),
                       static_cast<QWidget*>(count_box), static_cast<QWidget*>(length_box),
                       static_cast<QWidget*>(find_box)})
        w->setEnabled(!running);
    target_box->setEnabled(!running && find_box->isChecked());
    fast_box->setEnabled(!running && KORVIK::USBDevice::is_virtual_air());
}

void SweepPage::start()
{
    if (is_running() || !startable)
        return;
    const auto [tx, rx] = boards();
    if (!tx || !rx)
        return;
    if (tx == rx) {
        warn(tr("Choose two different boards."));
        return;
    }
    const VariableView& view = view_of(variable());
    settings = Sweep::Settings();
    settings.variable = view.variable;
    settings.start = start_box->value() * view.scale;
    settings.stop = stop_box->value() * view.scale;
    settings.step = step_box->value() * view.scale;
    settings.count = unsigned(count_box->value());
    settings.length = unsigned(length_box->value());
    settings.find = find_box->isChecked();
    settings.target_per = target_box->value() / 100;

    // simulated time is the air's: asked for this sweep, given back after it
    const bool fast = fast_box->isChecked() && KORVIK::USBDevice::is_virtual_air();
    fast_before = KORVIK::is_virtual_air_fast();
    if (fast != fast_before) {
        KORVIK::set_virtual_air_fast(fast);
        fast_set = true;
    }
    try {
        sweep = std::make_unique<Sweep>(*tx->get_device(), *rx->get_device(), settings);
    } catch (const std::exception& e) {
        if (fast_set)
            KORVIK::set_virtual_air_fast(fast_before);
        fast_set = false;
        QString text = QString::fromLocal8Bit(e.what());
        if (!text.isEmpty())
            text[0] = text[0].toUpper();
        warn(tr("Cannot sweep: %1.").arg(text));
        return;
    }
    sweep->signal_point.connect([this](const SweepPoint& p) {
        points_.push_back(p);
        point_done();
    });
    tx_board = tx;
    rx_board = rx;
    for (EvUSBBoard* b : {tx, rx})
        board_connections.push_back(connect(b, &EvUSBBoard::leaving, this, [this, b] {
            end_sweep(tr("The board %1 has left; the sweep stopped.")
                          .arg(QString::fromStdString(b->get_device()->get_display_name())));
        }));
    const double span = std::fabs(settings.stop - settings.start) / std::fabs(settings.step);
    planned_points = settings.find ? 2 + unsigned(std::ceil(std::log2(std::max(1.0, span))))
                                   : 1 + unsigned(std::floor(span + 1e-9));
    points_.clear();
    found_ = Sweep::Found();
    per_series->clear();
    rssi_series->clear();
    found_series->clear();
    x_axis->setRange(std::min(settings.start, settings.stop) / view.scale, std::max(settings.start, settings.stop) / view.scale);
    progress->setValue(0);
    result->setText(settings.find ? tr("Searching...") : tr("Sweeping..."));
    update_controls();
    Q_EMIT running_changed(true);
    step();
}

void SweepPage::step()
{
    if (!sweep)
        return;
    const int wait = sweep->poll();
    if (wait < 0) {
        const QString error = QString::fromStdString(sweep->error());
        if (error.isEmpty())
            progress->setValue(progress->maximum());
        end_sweep(error.isEmpty() ? QString() : tr("The sweep stopped: %1.").arg(error));
        return;
    }
    update_progress();
    timer.start(wait);
}

void SweepPage::update_progress()
{
    if (!sweep || planned_points == 0)
        return;
    double done = double(points_.size());
    // a stepped point's share is its packets sent; a searched point may take more batches
    if (!settings.find)
        done += std::min(1.0, double(sweep->current_sent()) / settings.count);
    progress->setValue(int(std::min(1.0, done / planned_points) * progress->maximum()));
}

void SweepPage::point_done()
{
    redraw();
    update_progress();
}

void SweepPage::redraw()
{
    const double scale = view_of(settings.variable).scale;
    std::vector<const SweepPoint*> sorted;
    for (const SweepPoint& p : points_)
        sorted.push_back(&p);
    // a search measures out of order; the lines join neighbours in the variable
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const SweepPoint* a, const SweepPoint* b) { return a->actual < b->actual; });
    QList<QPointF> per, rssi;
    double low = x_axis->min(), high = x_axis->max();
    for (const SweepPoint* p : sorted) {
        const double x = p->actual / scale;
        low = std::min(low, x);
        high = std::max(high, x);
        if (std::isfinite(p->per))
            per.append(QPointF(x, 100 * p->per));
        if (std::isfinite(p->rssi_mean))
            rssi.append(QPointF(x, p->rssi_mean));
    }
    per_series->replace(per);
    rssi_series->replace(rssi);
    x_axis->setRange(low, high);
}

void SweepPage::stop()
{
    if (sweep)
        end_sweep(QString());
}

void SweepPage::end_sweep(const QString& message)
{
    timer.stop();
    for (const QMetaObject::Connection& c : board_connections)
        disconnect(c);
    board_connections.clear();
    if (sweep) {
        // stopping puts the swept setting back on the boards
        sweep->stop();
        found_ = sweep->found();
        sweep.reset();
    }
    if (fast_set)
        KORVIK::set_virtual_air_fast(fast_before);
    fast_set = false;
    redraw();
    show_result();
    update_controls();
    Q_EMIT running_changed(false);
    if (!message.isEmpty())
        warn(message);
    Q_EMIT finished();
}

void SweepPage::export_csv()
{
    if (points_.empty())
        return;
    ask_csv_export(this, [this](const QString& f) { write_csv(f); });
}

bool SweepPage::write_csv(const QString& filename)
{
    // the rows of `korvik sweep --csv`, so one script reads both
    std::string text = sweep_csv_header();
    for (const SweepPoint& p : points_)
        text += sweep_csv_row(settings.variable, p);
    // a full disk leaves an older export as it was
    const std::string error = korvik_file::write_file(filename.toLocal8Bit().toStdString(), text);
    if (!error.empty()) {
        warn(tr("Cannot write %1: %2").arg(filename, QString::fromLocal8Bit(error.c_str())));
        return false;
    }
    return true;
}

void SweepPage::warn(const QString& message)
{
    // window-modal without a nested loop: the boards' events go on
    auto* box = new QMessageBox(QMessageBox::Warning, tr("Sweep"), message, QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void SweepPage::show_result()
{
    const SweepVariable v = settings.variable;
    if (points_.empty()) {
        result->setText(tr("No point was measured."));
        return;
    }
    QString text;
    if (settings.find) {
        const QString target = QString::number(settings.target_per * 100, 'g', 4);
        if (found_.found) {
            text = tr("PER %1 % at %2 (between %3 and %4)")
                       .arg(target, shown(found_.value, v), shown(found_.low, v), shown(found_.high, v));
            const double x = found_.value / view_of(v).scale;
            found_series->replace(QList<QPointF>{QPointF(x, 0), QPointF(x, 100)});
        } else if (points_.size() >= 2) {
            text = tr("PER %1 % is not crossed between %2 and %3")
                       .arg(target, shown(settings.start, v), shown(settings.stop, v));
        } else {
            text = tr("The search ended before it crossed PER %1 %").arg(target);
        }
    } else {
        const auto [lowest, highest] = std::minmax_element(
            points_.begin(), points_.end(), [](const SweepPoint& a, const SweepPoint& b) { return a.per < b.per; });
        text = (points_.size() == 1 ? tr("1 point of %2 packets, PER %3 % to %4 %")
                                    : tr("%1 points of %2 packets, PER %3 % to %4 %").arg(points_.size()))
                   .arg(settings.count)
                   .arg(lowest->per * 100, 0, 'f', 1)
                   .arg(highest->per * 100, 0, 'f', 1);
    }
    result->setText(text);
}

void SweepPage::apply_palette()
{
    const bool dark = palette().color(QPalette::Window).lightness() < 128;
    const QChart::ChartTheme theme = dark ? QChart::ChartThemeDark : QChart::ChartThemeLight;
    if (chart->theme() != theme)
        chart->setTheme(theme);
}

void SweepPage::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::PaletteChange)
        apply_palette();
    QWidget::changeEvent(event);
}

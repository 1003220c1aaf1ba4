#include "ui/PacketTestWindow.h"

#include <algorithm>
#include <cmath>

#include <QChart>
#include <QChartView>
#include <QCloseEvent>
#include <QComboBox>
#include <QFile>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineSeries>
#include <QMessageBox>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScatterSeries>
#include <QSpinBox>
#include <QTabWidget>
#include <QValueAxis>
#include <QVBoxLayout>

#include <korvik/USBDevice.h>

#include "ui/CsvExport.h"
#include "../../lib/file/SafeWrite.h" // the one file writer, shared with the library
#include "shell/BoardList.h"
#include "shell/EvUSBBoard.h"
#include "ui/SweepPage.h"

namespace {

constexpr unsigned CHIP_RECEIVE = 1;
constexpr unsigned CHIP_TRANSMIT = 2;

QString item(const std::list<std::string>& names, int index)
{
    auto it = names.begin();
    for (int i = 0; it != names.end() && i < index; ++i)
        ++it;
    return it == names.end() ? QString::number(index) : QString::fromStdString(*it);
}

// What decides whether packets get through, in the units the main window shows.
QString board_settings(const char* role, KORVIK::USBDevice& d, bool transmitter)
{
    QString text = QStringLiteral("# %1: %2, serial %3, interface %4, chip %5")
                       .arg(QLatin1String(role), QString::fromStdString(d.get_display_name()), QString::fromStdString(d.get_serial()),
                            QString::fromStdString(d.get_interface()), QString::fromStdString(d.get_chip_name()));
    const auto modulations = d.get_supported_modulations();
    if (transmitter)
        text += QStringLiteral(", carrier %1 MHz, modulation %2, bitrate %3 kbit/s, deviation %4 kHz, power %5 dBm")
                    .arg(d.get_tx_carrierfrequency() * 1e-6, 0, 'f', 6)
                    .arg(item(modulations, d.get_tx_modulation()))
                    .arg(d.get_tx_bitrate() * 1e-3, 0, 'f', 3)
                    .arg(d.get_tx_deviation() * 1e-3, 0, 'f', 3)
                    .arg(d.get_tx_power(), 0, 'f', 1);
    else
        text += QStringLiteral(", carrier %1 MHz, modulation %2, bitrate %3 kbit/s, bandwidth %4 kHz")
                    .arg(d.get_rx_carrierfrequency() * 1e-6, 0, 'f', 6)
                    .arg(item(modulations, d.get_rx_modulation()))
                    .arg(d.get_rx_bitrate() * 1e-3, 0, 'f', 3)
                    .arg(d.get_rx_bandwidth() * 1e-3, 0, 'f', 3);
    text += QStringLiteral(", framing %1, CRC %2, crystal %3 MHz\n")
                .arg(item(d.get_supported_framingmodes(), d.get_framingmode()), item(d.get_supported_crcmodes(), d.get_crcmode()))
                .arg(d.get_xtal_frequency() * 1e-6, 0, 'f', 6);
    return text;
}

QSpinBox* spin_box(int low, int high, int value, const QString& suffix)
{
    auto* box = new QSpinBox;
    box->setRange(low, high);
    box->setValue(value);
    box->setSuffix(suffix);
    return box;
}

} // namespace

PacketTestWindow::PacketTestWindow(BoardList* list, QWidget* parent) : QWidget(parent, Qt::Window), boards(list)
{
    setWindowTitle(tr("Packet Test"));
    setObjectName("PacketTestWindow");

    tx_box = new QComboBox;
    tx_box->setObjectName("transmitter");
    rx_box = new QComboBox;
    rx_box->setObjectName("receiver");
    count_box = spin_box(1, 1000000, 100, QString());
    count_box->setObjectName("count");
    length_box = spin_box(PacketLog::MIN_LENGTH, 1400, 32, tr(" bytes"));
    length_box->setObjectName("length");
    interval_box = spin_box(1, 60000, 50, tr(" ms"));
    interval_box->setObjectName("interval");

    // the boards are common to both pages
    auto* boards_form = new QFormLayout;
    boards_form->addRow(tr("&Transmitter:"), tx_box);
    boards_form->addRow(tr("&Receiver:"), rx_box);
    auto* form = new QFormLayout;
    form->addRow(tr("&Packets:"), count_box);
    form->addRow(tr("&Length:"), length_box);
    form->addRow(tr("&Interval:"), interval_box);

    start_button = new QPushButton(tr("&Start"));
    start_button->setObjectName("start");
    stop_button = new QPushButton(tr("St&op"));
    stop_button->setObjectName("stop");
    export_button = new QPushButton(tr("&Export CSV..."));
    export_button->setObjectName("export");
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(start_button);
    buttons->addWidget(stop_button);
    buttons->addStretch(1);
    buttons->addWidget(export_button);

    progress = new QProgressBar;
    progress->setRange(0, 100);
    progress->setValue(0);
    summary = new QLabel;
    summary->setObjectName("summary");
    summary->setTextInteractionFlags(Qt::TextSelectableByMouse);
    summary->setWordWrap(true);

    chart = new QChart;
    chart->legend()->setAlignment(Qt::AlignBottom);
    rssi_series = new QScatterSeries;
    rssi_series->setName(tr("RSSI (dBm)"));
    rssi_series->setMarkerSize(6);
    per_series = new QLineSeries;
    per_series->setName(tr("Packet error rate (%)"));
    chart->addSeries(rssi_series);
    chart->addSeries(per_series);
    x_axis = new QValueAxis;
    x_axis->setTitleText(tr("Packet"));
    x_axis->setLabelFormat("%d");
    rssi_axis = new QValueAxis;
    rssi_axis->setTitleText(tr("RSSI (dBm)"));
    rssi_axis->setRange(-130, 0);
    auto* per_axis = new QValueAxis;
    per_axis->setTitleText(tr("PER (%)"));
    per_axis->setRange(0, 100);
    chart->addAxis(x_axis, Qt::AlignBottom);
    chart->addAxis(rssi_axis, Qt::AlignLeft);
    chart->addAxis(per_axis, Qt::AlignRight);
    rssi_series->attachAxis(x_axis);
    rssi_series->attachAxis(rssi_axis);
    per_series->attachAxis(x_axis);
    per_series->attachAxis(per_axis);
    reset_x_axis();
    connect(count_box, &QSpinBox::valueChanged, this, [this]() {
        if (!is_running())
            reset_x_axis();
    });
    apply_palette();
    auto* view = new QChartView(chart);
    view->setObjectName("packet_chart");
    view->setRenderHint(QPainter::Antialiasing);
    view->setMinimumSize(520, 300);

    auto* packets_page = new QWidget;
    auto* packets_layout = new QVBoxLayout(packets_page);
    packets_layout->addLayout(form);
    packets_layout->addLayout(buttons);
    packets_layout->addWidget(progress);
    packets_layout->addWidget(summary);
    packets_layout->addWidget(view, 1);
    sweep_page = new SweepPage([this]() { return std::make_pair(chosen(tx_box), chosen(rx_box)); });
    connect(sweep_page, &SweepPage::running_changed, this, &PacketTestWindow::update_buttons);
    pages = new QTabWidget;
    pages->setObjectName("pages");
    pages->addTab(packets_page, tr("P&ackets"));
    pages->addTab(sweep_page, tr("S&weep"));

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(boards_form);
    layout->addWidget(pages, 1);

    connect(start_button, &QPushButton::clicked, this, &PacketTestWindow::start);
    connect(stop_button, &QPushButton::clicked, this, &PacketTestWindow::stop);
    connect(export_button, &QPushButton::clicked, this, &PacketTestWindow::export_csv);
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    connect(&timer, &QTimer::timeout, this, &PacketTestWindow::step);
    chart_timer.setInterval(250);
    connect(&chart_timer, &QTimer::timeout, this, &PacketTestWindow::update_chart);
    if (boards) {
        connect(boards, &QAbstractItemModel::rowsInserted, this, &PacketTestWindow::fill_boards);
        connect(boards, &QAbstractItemModel::rowsRemoved, this, &PacketTestWindow::fill_boards);
        connect(boards, &QAbstractItemModel::modelReset, this, &PacketTestWindow::fill_boards);
    }
    fill_boards();
    update_buttons();
}

PacketTestWindow::~PacketTestWindow()
{
    test.reset();
}

const PacketLog* PacketTestWindow::last_log() const
{
    if (test)
        return &test->log();
    return finished_log ? &*finished_log : nullptr;
}

void PacketTestWindow::fill_boards()
{
    // the choices follow the board list; a chosen board stays chosen
    for (auto [box, flag] : {std::pair<QComboBox*, unsigned>(tx_box, CHIP_TRANSMIT), {rx_box, CHIP_RECEIVE}}) {
        const QString current = box->currentData().toString();
        box->clear();
        for (int row = 0; boards && row < boards->rowCount(); ++row) {
            EvUSBBoard* b = boards->board_at(row);
            if (!b || b->is_removed() || !(b->get_device()->get_chipflags() & flag))
                continue;
            const QString iface = QString::fromStdString(b->get_device()->get_interface());
            box->addItem(QString("%1 (%2, %3)")
                             .arg(QString::fromStdString(b->get_device()->get_display_name()), iface,
                                  QString::fromStdString(b->get_device()->get_chip_name())),
                         iface);
        }
        const int keep = box->findData(current);
        if (keep >= 0)
            box->setCurrentIndex(keep);
    }
    // two different boards by default
    if (rx_box->count() > 1 && rx_box->currentData() == tx_box->currentData())
        rx_box->setCurrentIndex(rx_box->currentIndex() == 0 ? 1 : 0);
    update_buttons();
}

EvUSBBoard* PacketTestWindow::chosen(const QComboBox* box) const
{
    return boards ? boards->find_by_interface(box->currentData().toString()) : nullptr;
}

void PacketTestWindow::update_buttons()
{
    const bool running = is_running();
    // one measurement at a time: both pages send on the same boards
    const bool sweeping = sweep_page && sweep_page->is_running();
    start_button->setEnabled(!running && !sweeping && chosen(tx_box) && chosen(rx_box));
    stop_button->setEnabled(running);
    export_button->setEnabled(last_log() != nullptr && !running);
    for (QWidget* w : {static_cast<QWidget*>(count_box), static_cast<QWidget*>(length_box),
                       static_cast<QWidget*>(interval_box)})
        w->setEnabled(!running);
    for (QWidget* w : {static_cast<QWidget*>(tx_box), static_cast<QWidget*>(rx_box)})
        w->setEnabled(!running && !sweeping);
    if (sweep_page)
        sweep_page->set_startable(!running && chosen(tx_box) && chosen(rx_box));
}

void PacketTestWindow::start()
{
    if (is_running() || sweep_page->is_running())
        return;
    EvUSBBoard* tx = chosen(tx_box);
    EvUSBBoard* rx = chosen(rx_box);
    if (!tx || !rx)
        return;
    if (tx == rx) {
        QMessageBox::warning(this, tr("Packet Test"), tr("Choose two different boards."));
        return;
    }
    PacketTest::Settings settings;
    settings.count = unsigned(count_box->value());
    settings.length = unsigned(length_box->value());
    settings.interval = interval_box->value() / 1000.0;
    tx_board = tx;
    rx_board = rx;
    finished_log.reset();
    received_count = 0;
    rssi_series->clear();
    per_series->clear();
    bucket_width = std::max(1u, (settings.count + chart_buckets - 1) / chart_buckets);
    buckets.assign((settings.count + bucket_width - 1) / bucket_width, Bucket());
    chart_dirty = false;
    reset_x_axis();
    progress->setRange(0, count_box->value());
    progress->setValue(0);
    boards_text = board_settings("transmitter", *tx->get_device(), true) + board_settings("receiver", *rx->get_device(), false)
        + QStringLiteral("# %1 packets of %2 bytes every %3 ms\n").arg(settings.count).arg(settings.length).arg(interval_box->value());
    test = std::make_unique<PacketTest>(*tx->get_device(), *rx->get_device(), settings);
    test->signal_received.connect([this](const PacketRecord& r) { received(r); });
    for (EvUSBBoard* b : {tx, rx})
        board_connections.push_back(connect(b, &EvUSBBoard::leaving, this, [this, b] { board_leaving(b); }));
    summary->setText(tr("Running..."));
    update_buttons();
    chart_timer.start();
    step();
}

void PacketTestWindow::step()
{
    if (!test)
        return;
    const int wait = test->poll();
    if (wait < 0) {
        const QString error = QString::fromStdString(test->error());
        end_test(error.isEmpty() ? QString() : tr("The test stopped: %1.").arg(error));
        return;
    }
    timer.start(wait);
}

void PacketTestWindow::received(const PacketRecord& r)
{
    ++received_count;
    const unsigned index = r.sequence / bucket_width;
    if (index >= buckets.size())
        return;
    Bucket& b = buckets[index];
    if (r.rssi != -32768) {
        b.rssi_min = b.rssi ? std::min(b.rssi_min, double(r.rssi)) : r.rssi;
        b.rssi_max = b.rssi ? std::max(b.rssi_max, double(r.rssi)) : r.rssi;
        b.rssi = true;
    }
    // packets arrive in order: every earlier one not here by now is lost
    const double upto = r.sequence + 1.0;
    b.per = 100.0 * (upto - received_count) / upto;
    b.any = true;
    chart_dirty = true;
}

void PacketTestWindow::update_chart()
{
    if (test)
        progress->setValue(int(test->sent()));
    if (!chart_dirty)
        return;
    chart_dirty = false;
    // one replace per series is one redraw, however many packets came
    QList<QPointF> rssi, per;
    for (size_t i = 0; i < buckets.size(); ++i) {
        const Bucket& b = buckets[i];
        const double x = double(i * bucket_width);
        if (b.rssi) {
            rssi.append(QPointF(x, b.rssi_min));
            if (b.rssi_max != b.rssi_min)
                rssi.append(QPointF(x, b.rssi_max));
        }
        if (b.any)
            per.append(QPointF(x + bucket_width - 1, b.per));
    }
    rssi_series->replace(rssi);
    per_series->replace(per);
    ++redraw_count;
}

int PacketTestWindow::drawn_points() const
{
    return int(rssi_series->count() + per_series->count());
}

void PacketTestWindow::reset_x_axis()
{
    // whole packet numbers, spaced as the axis sees fit: an empty chart
    // reads 0 to the packet count rather than "0 0 0 0 1"
    x_axis->setRange(0, std::max(4, count_box->value() - 1));
    x_axis->applyNiceNumbers();
}

void PacketTestWindow::apply_palette()
{
    const bool dark = palette().color(QPalette::Window).lightness() < 128;
    const QChart::ChartTheme theme = dark ? QChart::ChartThemeDark : QChart::ChartThemeLight;
    if (chart->theme() == theme && !rssi_series->lightMarker().isNull())
        return;
    chart->setTheme(theme);
    // each point is one copy of a small image in the theme's colours: drawn
    // as graphics items of their own (the series' default, hidden here), a
    // thousand markers took most of the window's CPU in a long test
    const qreal size = 6;
    const qreal ratio = devicePixelRatioF();
    QImage marker(QSize(int(std::ceil(size * ratio)), int(std::ceil(size * ratio))), QImage::Format_ARGB32_Premultiplied);
    marker.setDevicePixelRatio(ratio);
    marker.fill(Qt::transparent);
    QPainter painter(&marker);
    painter.setRenderHint(QPainter::Antialiasing);
    QPen pen = rssi_series->pen();
    pen.setWidthF(std::min<qreal>(pen.widthF(), 1));
    painter.setPen(pen);
    painter.setBrush(rssi_series->brush());
    painter.drawEllipse(QRectF(0.5, 0.5, size - 1, size - 1));
    painter.end();
    rssi_series->setMarkerSize(size);
    rssi_series->setLightMarker(marker);
    rssi_series->setPointsVisible(false);
}

void PacketTestWindow::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::PaletteChange)
        apply_palette();
    QWidget::changeEvent(event);
}

void PacketTestWindow::board_leaving(EvUSBBoard* board)
{
    if (!test)
        return;
    // the test holds the board's handle: it must end before the board goes
    const QString name = QString::fromStdString(board->get_device()->get_display_name());
    end_test(tr("The board %1 has left; the test stopped.").arg(name));
}

void PacketTestWindow::stop()
{
    if (test)
        end_test(QString());
}

void PacketTestWindow::end_test(const QString& message)
{
    timer.stop();
    chart_timer.stop();
    for (const QMetaObject::Connection& c : board_connections)
        disconnect(c);
    board_connections.clear();
    QString late;
    if (test) {
        test->stop();
        progress->setValue(int(test->sent()));
        if (test->late_sends())
            late = tr("The interval of %1 ms could not be kept: %n packet(s) went out late, by up to %2 ms; "
                      "the test took %3 s longer than planned.", nullptr, int(test->late_sends()))
                       .arg(interval_box->value())
                       .arg(test->max_lateness() * 1000, 0, 'f', 1)
                       .arg(test->schedule_slip(), 0, 'f', 2);
        finished_log = test->log();
        test.reset();
        const PacketTestSummary s = finished_log->summary();
        // the last point is the test's own PER, lost tail included
        if (s.sent && !buckets.empty()) {
            Bucket& last = buckets[std::min<size_t>((s.sent - 1) / bucket_width, buckets.size() - 1)];
            last.per = 100.0 * s.per;
            last.any = true;
            chart_dirty = true;
        }
    }
    update_chart();
    show_summary();
    if (!late.isEmpty())
        summary->setText(summary->text() + QLatin1Char('\n') + late);
    update_buttons();
    if (!message.isEmpty()) {
        auto* box = new QMessageBox(QMessageBox::Warning, tr("Packet Test"), message, QMessageBox::Ok, this);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
    }
    Q_EMIT finished();
}

void PacketTestWindow::show_summary()
{
    const PacketLog* log = last_log();
    if (!log)
        return;
    const PacketTestSummary s = log->summary();
    if (!s.sent) {
        summary->setText(tr("No packet was sent."));
        return;
    }
    QString text = tr("PER %1 % (%2 of %3 lost)")
                       .arg(s.per * 100, 0, 'f', 1)
                       .arg(s.sent - s.received)
                       .arg(s.sent);
    if (!std::isnan(s.rssi_mean))
        text += tr(", RSSI %1 / %2 / %3 dBm (min / mean / max), deviation %4 dB")
                    .arg(s.rssi_min, 0, 'f', 0)
                    .arg(s.rssi_mean, 0, 'f', 1)
                    .arg(s.rssi_max, 0, 'f', 0)
                    .arg(s.rssi_stddev, 0, 'f', 1);
    if (!std::isnan(s.offset_mean))
        text += tr(", offset %1 kHz").arg(s.offset_mean / 1000, 0, 'f', 2);
    if (!s.lost_ranges.empty()) {
        // the full list is in the CSV; a window line holds the first few
        const size_t shown = std::min<size_t>(s.lost_ranges.size(), 12);
        QString ranges = QString::fromStdString(format_ranges({s.lost_ranges.begin(), s.lost_ranges.begin() + long(shown)}));
        if (shown < s.lost_ranges.size())
            ranges += QStringLiteral(", ...");
        text += tr("\nLost: %1").arg(ranges);
    }
    summary->setText(text);
}

void PacketTestWindow::export_csv()
{
    if (!last_log())
        return;
    ask_csv_export(this, [this](const QString& f) { write_csv(f); });
}

bool PacketTestWindow::write_csv(const QString& filename)
{
    const PacketLog* log = last_log();
    if (!log)
        return false;
    // a full disk leaves an older export as it was
    const std::string error =
        korvik_file::write_file(filename.toLocal8Bit().toStdString(), log->csv_with_units(csv_preamble()));
    if (!error.empty()) {
        QMessageBox::warning(this, tr("Export CSV"),
                             tr("Cannot write %1: %2").arg(filename, QString::fromLocal8Bit(error.c_str())));
        return false;
    }
    return true;
}

std::string PacketTestWindow::csv_preamble() const
{
    // times in seconds from the start of the test: the board's receive time
    // is when the packet came in from the receiving board, the receive time
    // when the library handed it to this window
    return (QStringLiteral("# korvik packet test\n") + boards_text).toStdString();
}

void PacketTestWindow::closeEvent(QCloseEvent* event)
{
    stop();
    sweep_page->stop();
    QWidget::closeEvent(event);
}

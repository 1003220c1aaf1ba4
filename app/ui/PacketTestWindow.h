#pragma once

#include <memory>
#include <optional>

#include <QPointer>
#include <QTimer>
#include <QWidget>

#include "core/PacketTest.h"

class BoardList;
class EvUSBBoard;
class QChart;
class QComboBox;
class QFileDialog;
class QLabel;
class QLineSeries;
class QProgressBar;
class QPushButton;
class QScatterSeries;
class QSpinBox;
class QTabWidget;
class SweepPage;
class QValueAxis;

// The "Packet Test" window: numbered packets from one listed board to
// another, with a live plot of the RSSI of every packet and the running
// packet error rate; its Sweep page measures them against a swept variable. Closing it stops the test; a board that leaves stops it
// with a message.
class PacketTestWindow : public QWidget {
    Q_OBJECT
public:
    explicit PacketTestWindow(BoardList* boards, QWidget* parent = nullptr);
    ~PacketTestWindow() override;

    SweepPage* get_sweep_page() const { return sweep_page; }

    bool is_running() const { return test != nullptr; }
    // Points the chart draws at most, whatever the packet count.
    static constexpr int chart_buckets = 500;
    int drawn_points() const;
    // Chart redraws since the window opened.
    unsigned long redraws() const { return redraw_count; }
    // The log of the running or last test, if any.
    const PacketLog* last_log() const;

public Q_SLOTS:
    void start();
    void stop();
    void export_csv();
    // Writes the CSV of the last test; false (with a message) when it cannot.
    bool write_csv(const QString& filename);

Q_SIGNALS:
    void finished();

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void fill_boards();
    EvUSBBoard* chosen(const QComboBox* box) const;
    void step();
    void received(const PacketRecord& record);
    void board_leaving(EvUSBBoard* board);
    void end_test(const QString& message);
    void show_summary();
    void update_buttons();
    void update_chart();
    void reset_x_axis();
    void apply_palette();
    std::string csv_preamble() const;

    BoardList* boards;
    QComboBox* tx_box;
    QComboBox* rx_box;
    QSpinBox* count_box;
    QSpinBox* length_box;
    QSpinBox* interval_box;
    QPushButton* start_button;
    QPushButton* stop_button;
    QPushButton* export_button;
    QProgressBar* progress;
    QLabel* summary;
    QChart* chart;
    QScatterSeries* rssi_series;
    QLineSeries* per_series;
    QValueAxis* x_axis;
    QValueAxis* rssi_axis;
    QTabWidget* pages;
    SweepPage* sweep_page = nullptr;

    std::unique_ptr<PacketTest> test;
    std::optional<PacketLog> finished_log;
    QPointer<EvUSBBoard> tx_board;
    QPointer<EvUSBBoard> rx_board;
    std::vector<QMetaObject::Connection> board_connections;
    QTimer timer;
    // the chart follows at a few redraws a second, from buckets of packets:
    // the lowest and highest RSSI and the last PER of each
    QTimer chart_timer;
    struct Bucket {
        double rssi_min = 0, rssi_max = 0, per = 0;
        bool rssi = false, any = false;
    };
    std::vector<Bucket> buckets;
    unsigned bucket_width = 1;
    bool chart_dirty = false;
    unsigned long redraw_count = 0;
    unsigned received_count = 0;
    QString boards_text; // both boards' settings at the start, for the CSV
};

#pragma once

#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include <QPointer>
#include <QTimer>
#include <QWidget>

#include "core/Sweep.h"

class EvUSBBoard;
class QChart;
class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QLineSeries;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QValueAxis;

// The Packet Test window's "Sweep" page: packet error rate and mean RSSI
// against transmit power, path loss, carrier offset or bitrate, stepped from
// START to STOP or searched for the value where the PER crosses a target.
// The boards are the window's; the page asks for them when it starts.
class SweepPage : public QWidget {
    Q_OBJECT
public:
    using BoardChoice = std::function<std::pair<EvUSBBoard*, EvUSBBoard*>()>;
    SweepPage(BoardChoice boards, QWidget* parent = nullptr);
    ~SweepPage() override;

    bool is_running() const { return sweep != nullptr; }
    // The points of the running or last sweep, in the order measured.
    const std::vector<SweepPoint>& points() const { return points_; }
    // The search's result once a search has ended.
    const Sweep::Found& found() const { return found_; }
    // Whether Start may be pressed, as the window sees it (boards chosen, no packet test running).
    void set_startable(bool on);

    // The variable's shown unit for a value in SI units, and back.
    static double shown_scale(SweepVariable v);

public Q_SLOTS:
    void start();
    void stop();
    void export_csv();
    // Writes the points as `korvik sweep --csv` does; false (with a message) when it cannot.
    bool write_csv(const QString& filename);

Q_SIGNALS:
    void running_changed(bool running);
    void finished();

protected:
    void changeEvent(QEvent* event) override;

private:
    SweepVariable variable() const;
    void variable_changed();
    void step();
    void point_done();
    void end_sweep(const QString& message);
    void update_controls();
    void update_progress();
    void redraw();
    void show_result();
    void apply_palette();
    void warn(const QString& message);

    BoardChoice boards;
    bool startable = false;
    QComboBox* variable_box;
    QDoubleSpinBox* start_box;
    QDoubleSpinBox* stop_box;
    QDoubleSpinBox* step_box;
    QSpinBox* count_box;
    QSpinBox* length_box;
    QCheckBox* find_box;
    QDoubleSpinBox* target_box;
    QCheckBox* fast_box;
    QPushButton* start_button;
    QPushButton* stop_button;
    QPushButton* export_button;
    QProgressBar* progress;
    QLabel* result;
    QChart* chart;
    QLineSeries* per_series;
    QLineSeries* rssi_series;
    QLineSeries* found_series;
    QValueAxis* x_axis;

    std::unique_ptr<Sweep> sweep;
    Sweep::Settings settings;
    std::vector<SweepPoint> points_;
    Sweep::Found found_;
    QPointer<EvUSBBoard> tx_board, rx_board;
    std::vector<QMetaObject::Connection> board_connections;
    // the air's time mode before a sweep asked for simulated time
    bool fast_before = false;
    bool fast_set = false;
    unsigned planned_points = 0;
    QTimer timer;
};

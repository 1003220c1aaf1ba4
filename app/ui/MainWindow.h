#pragma once

#include <functional>
#include <vector>

#include <QFileDialog>
#include <QItemSelection>
#include <QMainWindow>
#include <QPointer>

class BoardList;
class ChannelAccessPage;
class DevicePage;
class EvUSBBoard;
class PacketTestWindow;
class FieldBindings;
class FramingPage;
struct PageForms;
class QAction;
class QLabel;
class QMenu;
class QUndoGroup;
class QUndoStack;
class RadioPage;
class RegisterPages;

namespace KORVIK {
class USBDevice;
}

namespace Ui {
class MainWindow;
}

// The editing surface: board list on the left, the selected board's pages on
// the right, the menus around them. Holds no values of its own: the pages
// bind their fields to the device through one table (FieldBindings).
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(QObject* application = nullptr, QWidget* parent = nullptr);
    ~MainWindow() override;

    void set_board_model(BoardList* model);
    void resize_devicelist();
    // Widens the list's columns for rows just added.
    void fit_devicelist_rows(int first, int last);
    EvUSBBoard* get_current_board() const;
    void set_board(EvUSBBoard* board);
    // Selects the board's row, as a click would.
    void select_board(EvUSBBoard* board);
    FieldBindings& field_bindings() { return *bindings; }
    QUndoStack* undo_stack(EvUSBBoard* board);
    // Adds a settings file to the File menu's recent files.
    void add_recent_file(const QString& filename);
    void remove_recent_file(const QString& filename);
    void set_advanced_pages_shown(bool shown);


Q_SIGNALS:
    // what the program does for the window: rescan the boards, simulate a
    // board from a settings file or of a chip type, open the handbook
    void rescan_requested();
    void simulate_file_requested(QString filename);
    void simulate_chip_requested(QString chip);
    void assistant_requested();
    void remove_board_requested(EvUSBBoard* board);
    void replay_capture_requested(QString filename);
    // a korvikd's boards join the list (its URI as korvik --server takes it)
    void connect_server_requested(QString uri);
    void disconnect_server_requested(QString uri);

public Q_SLOTS:
    virtual void devicelist_selection_changed(const QItemSelection& selected, const QItemSelection& deselected);
    virtual void quit();
    virtual void refresh();
    void simulate_board();
    void simulate_board(QString filename);
    /// Asks for a capture file and replays it as a simulated board.
    void replay_capture();
    // asks for a server's URI and requests the connection
    void connect_server();
    void disconnect_server();
    void simulate_new_board(QString chip);
    void click_loadchipdefaults(bool checked = false);
    void click_loadboarddefaults(bool checked = false);
    void click_saveboarddefaults(bool checked = false);

    // kept for callers that write a field's text or value directly
    void valchanged_framing_crcinit(QString text);
    void valchanged_chacc_preamble(int bits);
    void changed_chacc_preamble();

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private Q_SLOTS:
    void action_about();
    void open_packet_test();
    void open_rc800_code_snippet_straight_window();
    void open_rc800_code_snippet_table_window();
    void open_rc800_code_snippet_bursttable_window();
    void open_code_snippet_straight_window();
    void open_code_snippet_table_window();
    void open_code_snippet_bursttable_window();

private:
    KORVIK::USBDevice* device() const;
    void build_menus();
    void update_board_actions();
    void update_empty_hint();
    void update_recent_menu();
    void restore_settings();
    // True when none of `boards` has unsaved settings, or the user lets them go.
    bool may_discard(const std::vector<EvUSBBoard*>& boards, const QString& question);

    QObject* application;
    Ui::MainWindow* ui;
    PageForms* forms;
    QPointer<EvUSBBoard> current_board;
    QPointer<PacketTestWindow> packet_test;
    BoardList* boardlist = nullptr;
    FieldBindings* bindings;
    RadioPage* radio_page;
    FramingPage* framing_page;
    ChannelAccessPage* chacc_page;
    DevicePage* device_page;
    RegisterPages* register_pages;
    QUndoGroup* undo_group;
    QLabel* empty_hint;
    QMenu* recent_menu = nullptr;
    QAction* remove_board_action = nullptr;
    QAction* advanced_action = nullptr;
    // the Channel Access and Device pages, kept while not shown
    std::vector<std::pair<QWidget*, QString>> advanced_pages;
    std::vector<QMetaObject::Connection> action_connections;
};

// Entry of "New Chip Settings": remembers its chip name.
class MainWindowSimNewDeviceBind : public QObject {
    Q_OBJECT
public:
    MainWindowSimNewDeviceBind(MainWindow* window, const QString& chip);

public Q_SLOTS:
    void simulate_new_board();

private:
    MainWindow* window;
    QString chip;
};

// Non-modal file chooser for opening a chip settings file as a simulated board.
class MainWindowFileDialog : public QFileDialog {
    Q_OBJECT
public:
    MainWindowFileDialog(MainWindow* window, bool new_file);

public Q_SLOTS:
    void quit();

private Q_SLOTS:
    void filedialog_ok();

private:
    QPointer<MainWindow> window;
};

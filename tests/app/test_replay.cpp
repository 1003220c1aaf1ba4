// File > Replay Capture... as a user goes through it: the menu entry, the file
// dialog, and the recorded board among the boards, answering as recorded;
// a file that is no capture of a board says why and adds nothing.
#include <memory>

#include <QFile>
#include <QFileDialog>
#include <QMenu>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>

#include <korvik/USBDevice.h>

#include "Application.h"
#include "ProgramTestSupport.h"

class ReplayTest : public QObject {
    Q_OBJECT
public:
    explicit ReplayTest(Application* app) : app(app) {}

private Q_SLOTS:
    void cleanup();
    void a_capture_opens_as_a_board_through_the_menu();
    void files_that_are_no_capture_of_a_board_are_refused();

private:
    // File > Replay Capture..., then the file chosen in its dialog
    void replay_through_menu(const QString& file);
    QList<QMessageBox*> boxes() const;

    Application* app;
    QTemporaryDir dir;
};

void ReplayTest::cleanup()
{
    remove_all_boards(*app);
}

QList<QMessageBox*> ReplayTest::boxes() const
{
    QList<QMessageBox*> found;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible())
            found.push_back(box);
    return found;
}

void ReplayTest::replay_through_menu(const QString& file)
{
    QAction* entry = nullptr;
    for (QAction* a : window_widget<QMenu>(*app, "menuFile")->actions())
        if (a->objectName() == QLatin1String("actionReplayCapture"))
            entry = a;
    QVERIFY(entry);
    QVERIFY(entry->isEnabled()); // no board is needed to replay one
    entry->trigger();
    auto* dialog = app->get_window()->findChild<QFileDialog*>(QStringLiteral("replayCaptureDialog"));
    QVERIFY(dialog);
    QVERIFY(dialog->isVisible());
    QCOMPARE(dialog->fileMode(), QFileDialog::ExistingFile);
    QVERIFY(dialog->nameFilters().value(0).contains(QLatin1String("*.pcap")));
    dialog->selectFile(file);
    static_cast<QDialog*>(dialog)->accept(); // what the Open button does
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void ReplayTest::a_capture_opens_as_a_board_through_the_menu()
{
    const QString file = QStringLiteral(KORVIK_REPLAY_CORPUS "/open_set.pcap");
    replay_through_menu(file);
    QVERIFY(boxes().isEmpty());
    BoardList& boards = app->get_boards();
    QCOMPARE(boards.rowCount(), 1);
    EvUSBBoard* shown = app->get_window()->get_current_board();
    QCOMPARE(shown, boards.board_at(0));
    KORVIK::USBDevice& replayed = *shown->get_device();
    QVERIFY(replayed.get_boardflags() & 1u); // simulated

    // it answers as the recorded board: the same as a second replay of the file
    std::unique_ptr<KORVIK::USBDevice> again(KORVIK::USBDevice::open_replay(file.toStdString()));
    QVERIFY(again);
    QVERIFY(again->get_interface() != replayed.get_interface());
    QCOMPARE(replayed.get_serial(), again->get_serial());
    QCOMPARE(replayed.get_chip_name(), again->get_chip_name());
    QCOMPARE(replayed.get_registers(), again->get_registers());
    QCOMPARE(replayed.get_tx_carrierfrequency(), again->get_tx_carrierfrequency());
    again->get_board()->leave_registry();
}

void ReplayTest::files_that_are_no_capture_of_a_board_are_refused()
{
    QFile corpus(QStringLiteral(KORVIK_REPLAY_CORPUS "/open_set.pcap"));
    QVERIFY(corpus.open(QIODevice::ReadOnly));
    const QByteArray capture = corpus.readAll();
    const struct {
        const char* name;
        QByteArray content;
    } cases[] = {
        {"settings.pcap", QByteArrayLiteral("<evusb><chip model='RC1200'/></evusb>")},
        {"empty.pcap", QByteArray()},
        {"header-only.pcap", capture.left(24)},
        {"cut.pcap", capture.left(40)},
    };
    for (const auto& c : cases) {
        const QString path = dir.filePath(QLatin1String(c.name));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(c.content);
        f.close();
        replay_through_menu(path);
        const QList<QMessageBox*> said = boxes();
        QVERIFY2(said.size() == 1, c.name);
        QCOMPARE(said[0]->windowTitle(), QStringLiteral("Error replaying capture"));
        QVERIFY2(!said[0]->text().isEmpty(), c.name);
        said[0]->close();
        QCOMPARE(app->get_boards().rowCount(), 0);
    }
}

int main(int argc, char** argv)
{
    Application app(argc, argv);
    ReplayTest test(&app);
    return QTest::qExec(&test, argc, argv);
}

#include "test_replay.moc"

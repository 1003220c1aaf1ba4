#include "ui/CodeWindow.h"

#include <QAction>
#include <QFont>
#include <QIcon>
#include <QFileDialog>
#include <QMenuBar>
#include <QMessageBox>
#include <QStatusBar>
#include <QTextEdit>
#include <QVBoxLayout>

#include <korvik/USBDevice.h>

#include "../../lib/file/SafeWrite.h" // the one file writer, shared with the library
#include "shell/EvUSBBoard.h"

namespace {

// our own pictures: a desktop theme's would look foreign beside them, and a
// theme icon follows later theme changes, even to nothing
QIcon icon(const char* file)
{
    return QIcon(QLatin1String(file));
}

} // namespace

CodeWindow::CodeWindow(EvUSBBoard* board_, QWidget* parent, Qt::WindowFlags flags, bool delete_on_close_)
    : QMainWindow(parent, flags), board(board_), delete_on_close(delete_on_close_)
{
    resize(800, 600);
    setWindowTitle(tr("Code Snippets"));
    setWindowIcon(QIcon(QStringLiteral(":/images/CORVANE_Waves.png")));
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setSpacing(6);
    layout->setContentsMargins(9, 9, 9, 9);
    edit = new QTextEdit(central);
    edit->setObjectName(QStringLiteral("text"));
    edit->setLineWrapMode(QTextEdit::NoWrap);
    layout->addWidget(edit);
    setCentralWidget(central);

    QMenu* file = menuBar()->addMenu(tr("&File"));
    file->setObjectName(QStringLiteral("menuFile"));
    QAction* saveas = file->addAction(icon(":/images/filesaveas.png"), tr("Save &As..."));
    saveas->setObjectName(QStringLiteral("actionSaveAs"));
    saveas->setShortcut(QKeySequence(QStringLiteral("Ctrl+Shift+S")));
    connect(saveas, &QAction::triggered, this, &CodeWindow::save_as);
    QAction* close = file->addAction(icon(":/images/fileclose.png"), tr("&Close"));
    close->setObjectName(QStringLiteral("actionClose"));
    close->setShortcut(QKeySequence(QStringLiteral("Ctrl+W")));
    close->setToolTip(tr("Close"));
    close->setIconText(tr("Close"));
    connect(close, &QAction::triggered, this, &CodeWindow::quit);

    QMenu* editmenu = menuBar()->addMenu(tr("&Edit"));
    editmenu->setObjectName(QStringLiteral("menuEdit"));
    struct Entry {
        const char* name;
        const char* text;
        const char* shortcut;
        const char* file;
        void (QTextEdit::*slot)();
    };
    const Entry entries[] = {
        {"actionCut", "Cu&t", "Ctrl+X", ":/images/editcut.png", &QTextEdit::cut},
        {"actionCopy", "&Copy", "Ctrl+C", ":/images/editcopy.png", &QTextEdit::copy},
        {"actionPaste", "&Paste", "Ctrl+V", ":/images/editpaste.png", &QTextEdit::paste},
        {"actionDelete", "&Delete", "", ":/images/editdelete.png", &QTextEdit::clear},
        {"actionSelectAll", "Select &All", "Ctrl+A", ":/images/pencil.png", &QTextEdit::selectAll},
    };
    for (const Entry& e : entries) {
        QAction* a = editmenu->addAction(icon(e.file), tr(e.text));
        a->setObjectName(QLatin1String(e.name));
        if (*e.shortcut)
            a->setShortcut(QKeySequence(QLatin1String(e.shortcut)));
        connect(a, &QAction::triggered, edit, e.slot);
    }
    statusBar();

    if (board) {
        connect(board, &EvUSBBoard::delete_subwindows, this, &CodeWindow::delete_board);
        if (board->get_device())
            setWindowTitle(windowTitle() + QStringLiteral(" - ") + QString::fromStdString(board->get_device()->get_display_name()));
    }
    QTextCharFormat format;
    QFont font(QStringLiteral("Courier"), 10);
    font.setStyleHint(QFont::TypeWriter);
    format.setFont(font);
    edit->setCurrentCharFormat(format);
    setAttribute(Qt::WA_DeleteOnClose, delete_on_close);
}

void CodeWindow::set_text(const QString& text)
{
    edit->setPlainText(text);
}

QString CodeWindow::text() const
{
    return edit->toPlainText();
}

void CodeWindow::set_subject(const QString& what, const QString& suffix_)
{
    suffix = suffix_;
    QString title = what;
    if (board && board->get_device())
        title += QStringLiteral(" - ") + QString::fromStdString(board->get_device()->get_display_name());
    setWindowTitle(title);
}

QString CodeWindow::save_to(const QString& filename) const
{
    const QByteArray bytes = text().toUtf8();
    const std::string error =
        korvik_file::write_file(filename.toLocal8Bit().toStdString(), bytes.constData(), std::size_t(bytes.size()));
    if (!error.empty())
        return tr("Cannot write file %1: %2").arg(filename, QString::fromLocal8Bit(error.c_str()));
    return QString();
}

void CodeWindow::save_as()
{
    const QString filter = suffix == QLatin1String("c") ? tr("C Source (*.c *.h);;Any file (*)") : tr("Text Files (*.txt);;Any file (*)");
    QFileDialog dialog(this, tr("Save As..."), QString(), filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(suffix);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().size() != 1)
        return;
    const QString error = save_to(dialog.selectedFiles().front());
    if (!error.isEmpty())
        QMessageBox::warning(this, tr("Error Saving File"), error);
}

void CodeWindow::quit()
{
    if (!delete_on_close) {
        hide();
        return;
    }
    if (board)
        disconnect(board, &EvUSBBoard::delete_subwindows, this, &CodeWindow::delete_board);
    board = nullptr;
    deleteLater();
}

void CodeWindow::delete_board()
{
    board = nullptr;
    deleteLater();
}

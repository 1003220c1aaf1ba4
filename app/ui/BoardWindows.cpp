#include "ui/BoardWindows.h"

#include "shell/EvUSBBoard.h"
#include "ui/CodeWindow.h"
#include "ui/SettingsFileDialog.h"

BoardWindows::BoardWindows(EvUSBBoard* board_) : QObject(board_), board(board_)
{
    connect(board, &EvUSBBoard::code_window_requested, this, &BoardWindows::open_code_window);
    connect(board, &EvUSBBoard::file_dialog_requested, this,
            [this](bool save) { (new EvUSBFileDialog(board, save))->show(); });
    connect(board, &EvUSBBoard::message_requested, this, [this](const QString& caption, const QString& text) {
        (new EvUSBInfoBox(board, caption, text, QMessageBox::Warning))->show();
    });
}

BoardWindows* BoardWindows::of(const EvUSBBoard* board)
{
    return board ? board->findChild<BoardWindows*>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
}

CodeWindow* BoardWindows::find_code_window(int target, unsigned int snippet) const
{
    const auto it = code_windows.find({target, snippet});
    return it == code_windows.end() ? nullptr : it->second;
}

void BoardWindows::open_code_window(int target, uint snippet, const QString& text)
{
    const std::pair<int, unsigned int> key(target, snippet);
    CodeWindow*& window = code_windows[key];
    if (!window) {
        window = new CodeWindow(board);
        // the window deletes itself when the board goes; forget it then
        connect(window, &QObject::destroyed, this, [this, key]() { code_windows.erase(key); });
    }
    window->set_text(text);
    static const char* const styles[] = {"", "Straight Code", "Table Driven", "", "Burst Table"};
    const QString style = snippet < 5 && *styles[snippet] ? tr(styles[snippet]) : tr("All Styles");
    switch (target) {
    case EvUSBBoard::TargetRC800: window->set_subject(tr("RC800 Code Snippets: %1").arg(style), QStringLiteral("c")); break;
    case EvUSBBoard::TargetSPI: window->set_subject(tr("Code Snippets: %1").arg(style), QStringLiteral("c")); break;
    case EvUSBBoard::TargetEvalboard: window->set_subject(tr("Evalboard Code Snippets"), QStringLiteral("c")); break;
    default: window->set_subject(tr("Register Dump"), QStringLiteral("txt")); break;
    }
    window->show();
    window->raise();
}

EvUSBInfoBox::EvUSBInfoBox(EvUSBBoard* board, const QString& caption, const QString& text, QMessageBox::Icon icon)
    : QMessageBox(icon, caption, text, QMessageBox::Ok, nullptr, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_QuitOnClose);
    setModal(false);
    connect(this, &QMessageBox::finished, this, &EvUSBInfoBox::quit);
    if (board)
        connect(board, &EvUSBBoard::delete_subwindows, this, &EvUSBInfoBox::quit);
}

void EvUSBInfoBox::quit()
{
    deleteLater();
}

#pragma once

#include <map>

#include <QMessageBox>
#include <QObject>

class CodeWindow;
class EvUSBBoard;

// Builds the windows a board object asks for: its code windows (one per
// target and style, kept and reused), its file choosers and its message
// boxes. A child of the board, so it goes with it.
class BoardWindows : public QObject {
    Q_OBJECT
public:
    explicit BoardWindows(EvUSBBoard* board);
    // The window builder of a board, null when none is attached.
    static BoardWindows* of(const EvUSBBoard* board);

    // The window of a snippet target and style, null before the first request.
    CodeWindow* find_code_window(int target, unsigned int snippet) const;

private:
    void open_code_window(int target, uint snippet, const QString& text);

    EvUSBBoard* board;
    std::map<std::pair<int, unsigned int>, CodeWindow*> code_windows;
};

// The board's non-modal message box; closes with its board.
class EvUSBInfoBox : public QMessageBox {
    Q_OBJECT
public:
    EvUSBInfoBox(EvUSBBoard* board, const QString& caption, const QString& text, QMessageBox::Icon icon);

private Q_SLOTS:
    void quit();
};

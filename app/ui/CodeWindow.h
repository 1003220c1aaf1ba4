#pragma once

#include <QMainWindow>

class EvUSBBoard;
class QTextEdit;

// Editable text window for generated source and register dumps.
class CodeWindow : public QMainWindow {
    Q_OBJECT
public:
    CodeWindow(EvUSBBoard* board, QWidget* parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags(),
               bool delete_on_close = false);

    void set_text(const QString& text);
    QString text() const;
    // Title "<what> - <board>"; `suffix` is the default file suffix of Save As.
    void set_subject(const QString& what, const QString& suffix);
    // Writes the text to the file; an empty result, or why it failed.
    QString save_to(const QString& filename) const;

public Q_SLOTS:
    void quit();
    void save_as();

private Q_SLOTS:
    void delete_board();

private:
    EvUSBBoard* board;
    bool delete_on_close;
    QTextEdit* edit;
    QString suffix = QStringLiteral("c");
};

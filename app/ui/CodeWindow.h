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

public Q_SLOTS:
    void quit();

private Q_SLOTS:
    void delete_board();

private:
    EvUSBBoard* board;
    bool delete_on_close;
    QTextEdit* edit;
};

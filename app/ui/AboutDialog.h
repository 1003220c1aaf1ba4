#pragma once

#include <QDialog>

class QLabel;

// Program and library versions and the supported chips.
class AboutDialog : public QDialog {
    Q_OBJECT
public:
    explicit AboutDialog(QObject* application, QWidget* parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());

    // The text of the "About" page.
    static QString about_text();

public Q_SLOTS:
    void quit();

private:
    QObject* application;
};

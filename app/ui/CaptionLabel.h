#pragma once

#include <QLabel>

// A field's caption that stays on one line where its column has room and
// breaks between words where it has not, so that the longest caption does
// not set the smallest width of its page, and so of the window.
class CaptionLabel : public QLabel {
public:
    explicit CaptionLabel(QWidget* parent = nullptr);

    // What an unbroken caption asks for: the whole text on one line.
    QSize sizeHint() const override;
};

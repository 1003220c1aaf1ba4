#include "ui/CaptionLabel.h"

CaptionLabel::CaptionLabel(QWidget* parent) : QLabel(parent)
{
    // the least width is then the longest word's; a broken line takes the
    // row's height from heightForWidth
    setWordWrap(true);
}

QSize CaptionLabel::sizeHint() const
{
    // a wrapping label would otherwise ask for a narrow block of lines even with room to spare
    const QRect line = fontMetrics().boundingRect(QRect(0, 0, QWIDGETSIZE_MAX, QWIDGETSIZE_MAX),
                                                  int(alignment()) | Qt::TextShowMnemonic, text());
    const QMargins m = contentsMargins();
    return {line.width() + m.left() + m.right() + 2 * margin(), minimumSizeHint().height()};
}

#pragma once

#include <QHash>
#include <QStaticText>
#include <QStyledItemDelegate>

// Draws one-line cells from text laid out once and kept, as the style would
// draw them. The style lays out every cell's text again at each repaint; a
// selection that scrolls the board list repaints every row shown, so with
// many boards that layout made a selection cost more than with one. Cells
// whose text does not fit (to be elided or clipped), with an icon or a check
// box, or being edited go to the style as before.
class PreparedTextDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    // Texts laid out at most; the packet counters make new ones all the time.
    static constexpr int kept_texts = 512;

private:
    const QStaticText& prepared(const QString& text, const QFont& font) const;

    mutable QHash<QString, QStaticText> texts;
    mutable QFont texts_font;
};

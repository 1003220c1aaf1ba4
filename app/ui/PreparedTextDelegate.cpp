#include "ui/PreparedTextDelegate.h"

#include <QApplication>
#include <QPainter>
#include <QStyle>

const QStaticText& PreparedTextDelegate::prepared(const QString& text, const QFont& font) const
{
    // a font change (the application's, or a style's) lays everything out anew
    if (font != texts_font || texts.size() >= kept_texts) {
        texts.clear();
        texts_font = font;
    }
    auto it = texts.find(text);
    if (it == texts.end()) {
        QStaticText laid_out(text);
        laid_out.setTextFormat(Qt::PlainText);
        laid_out.setPerformanceHint(QStaticText::AggressiveCaching);
        laid_out.prepare(QTransform(), font);
        it = texts.insert(text, laid_out);
    }
    return *it;
}

void PreparedTextDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const QStyleOptionViewItem::ViewItemFeatures drawn_by_style =
        QStyleOptionViewItem::HasDecoration | QStyleOptionViewItem::HasCheckIndicator;
    if (!(opt.features & QStyleOptionViewItem::HasDisplay) || (opt.features & drawn_by_style) || (opt.state & QStyle::State_Editing)
        || opt.text.contains(QLatin1Char('\n'))) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    const QWidget* widget = opt.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    // the margins and alignment the style gives a cell's text
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
    const QRect area = opt.rect.adjusted(margin, 0, -margin, 0);
    const QStaticText& text = prepared(opt.text, opt.font);
    const QSize size = text.size().toSize();
    if (size.width() > area.width() || size.height() > area.height()) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    // background, selection and focus from the style, the text from here
    opt.text.clear();
    opt.features &= ~QStyleOptionViewItem::HasDisplay;
    style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);
    const QPalette::ColorGroup group = !(opt.state & QStyle::State_Enabled) ? QPalette::Disabled
        : !(opt.state & QStyle::State_Active)                             ? QPalette::Inactive
                                                                          : QPalette::Normal;
    painter->save();
    painter->setPen(opt.palette.color(group, (opt.state & QStyle::State_Selected) ? QPalette::HighlightedText : QPalette::Text));
    painter->setFont(opt.font);
    painter->drawStaticText(QStyle::alignedRect(opt.direction, opt.displayAlignment, size, area).topLeft(), text);
    painter->restore();
}

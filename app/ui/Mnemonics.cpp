#include "ui/Mnemonics.h"

#include <QGridLayout>
#include <QLabel>
#include <QString>
#include <QWidget>

QChar mnemonic_of(const QString& text)
{
    for (int i = 0; i + 1 < text.size(); ++i) {
        if (text.at(i) != QLatin1Char('&'))
            continue;
        if (text.at(i + 1) == QLatin1Char('&')) {
            ++i;
            continue;
        }
        return text.at(i + 1).toUpper();
    }
    return QChar();
}

namespace {

// the first editable widget right of the label in its grid row
QWidget* field_beside(QGridLayout* grid, int index)
{
    int row = 0, column = 0, rows = 0, columns = 0;
    grid->getItemPosition(index, &row, &column, &rows, &columns);
    for (int c = column + columns; c < grid->columnCount(); ++c) {
        QLayoutItem* item = grid->itemAtPosition(row, c);
        QWidget* w = item ? item->widget() : nullptr;
        if (!w)
            continue;
        if (qobject_cast<QLabel*>(w))
            return nullptr; // another caption or a unit
        if (w->focusPolicy() != Qt::NoFocus)
            return w;
    }
    return nullptr;
}

// a letter starting a word first, then any letter
int pick(const QString& text, const QSet<QChar>& taken)
{
    for (int pass = 0; pass < 2; ++pass)
        for (int i = 0; i < text.size(); ++i) {
            const QChar c = text.at(i);
            const bool word_start = i == 0 || !text.at(i - 1).isLetter();
            if (c.isLetter() && (pass == 1 || word_start) && !taken.contains(c.toUpper()))
                return i;
        }
    return -1;
}

} // namespace

void assign_label_mnemonics(QWidget* page, QSet<QChar> taken)
{
    std::vector<std::pair<QLabel*, QWidget*>> captions;
    for (QGridLayout* grid : page->findChildren<QGridLayout*>())
        for (int i = 0; i < grid->count(); ++i) {
            auto* label = qobject_cast<QLabel*>(grid->itemAt(i)->widget());
            if (!label)
                continue;
            if (QWidget* field = label->buddy() ? label->buddy() : field_beside(grid, i))
                captions.emplace_back(label, field);
        }
    for (const auto& [label, field] : captions)
        if (const QChar c = mnemonic_of(label->text()); !c.isNull())
            taken.insert(c);
    for (const auto& [label, field] : captions) {
        label->setBuddy(field);
        if (!mnemonic_of(label->text()).isNull())
            continue;
        QString text = label->text();
        text.replace(QLatin1Char('&'), QStringLiteral("&&"));
        const int at = pick(text, taken);
        if (at < 0)
            continue;
        taken.insert(text.at(at).toUpper());
        text.insert(at, QLatin1Char('&'));
        label->setText(text);
    }
}

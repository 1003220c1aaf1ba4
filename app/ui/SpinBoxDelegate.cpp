#include "ui/SpinBoxDelegate.h"

#include <algorithm>
#include <climits>

HexSpinBox::HexSpinBox(QWidget* parent, unsigned int n) : QSpinBox(parent)
{
    setNrbits(n);
    setWrapping(true);
}

void HexSpinBox::setNrbits(uint n)
{
    bits = n < 32 ? n : 32;
    const quint64 mask = maximum_unsigned();
    // held to the new range first, then masked; compared unsigned, as a
    // 32-bit editor keeps its value's bit pattern in a signed int
    const uint masked = uint(std::min<quint64>(uint(value()), mask) & mask);
    if (bits >= 32)
        setRange(INT_MIN, INT_MAX);
    else
        setRange(0, int(mask));
    QSpinBox::setValue(int(masked));
}

void HexSpinBox::setValue(uint val)
{
    QSpinBox::setValue(int(val));
}

void HexSpinBox::stepBy(int steps)
{
    if (bits < 32) {
        QSpinBox::stepBy(steps);
        return;
    }
    // the int range would clamp at its ends; unsigned arithmetic wraps as the register does
    QSpinBox::setValue(int(uint(value()) + uint(steps)));
    selectAll();
}

quint64 HexSpinBox::maximum_unsigned() const
{
    return bits >= 32 ? 0xFFFFFFFFull : ((quint64(1) << bits) - 1);
}

QString HexSpinBox::textFromValue(int v) const
{
    return QStringLiteral("%1").arg(uint(v) & uint(maximum_unsigned()), int((bits + 3) / 4), 16, QLatin1Char('0')).toUpper();
}

int HexSpinBox::valueFromText(const QString& text) const
{
    QString copy = text;
    int pos = 0;
    int number = 0;
    interpret(copy, pos, number);
    return number;
}

QValidator::State HexSpinBox::validate(QString& text, int& pos) const
{
    int number = 0;
    return interpret(text, pos, number);
}

QValidator::State HexSpinBox::interpret(QString& text, int& pos, int& number) const
{
    QString core = text;
    if (specialValueText().isEmpty() || text != specialValueText()) {
        const int before = int(core.size());
        if (!prefix().isEmpty() && core.startsWith(prefix(), Qt::CaseInsensitive))
            core.remove(0, prefix().size());
        if (!suffix().isEmpty() && core.endsWith(suffix()))
            core.chop(suffix().size());
        core = core.trimmed();
        pos -= before - int(core.size());
        if (pos < 0)
            pos = 0;
    }
    const quint64 lowest = bits >= 32 ? 0 : quint64(minimum());
    const quint64 highest = maximum_unsigned();
    QValidator::State state;
    bool ok = false;
    const quint64 parsed = core.isEmpty() ? 0 : core.toULongLong(&ok, 16);
    number = bits >= 32 ? 0 : minimum();
    if (!ok || core.isEmpty() || core.startsWith(QLatin1Char('+')) || core.startsWith(QLatin1Char('-'))) {
        state = QValidator::Invalid;
    } else if (parsed >= lowest && parsed <= highest) {
        state = QValidator::Acceptable;
        number = int(uint(parsed));
    } else if (lowest == highest) {
        state = QValidator::Invalid;
    } else {
        // could more digits bring a too small number into range?
        state = QValidator::Invalid;
        for (quint64 scale = 16; parsed * scale <= 0xFFFFFFFFull && parsed * scale <= highest; scale *= 16) {
            if (parsed * scale + scale - 1 >= lowest) {
                state = QValidator::Intermediate;
                break;
            }
            if (parsed == 0)
                break;
        }
    }
    text = prefix() + core + suffix();
    return state;
}

SpinBoxDelegate::SpinBoxDelegate(QObject* parent) : QItemDelegate(parent) {}

QWidget* SpinBoxDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem&, const QModelIndex& index) const
{
    bool ok = false;
    int width = index.data(Qt::UserRole).toInt(&ok);
    if (!ok)
        width = 8;
    auto* editor = new HexSpinBox(parent, unsigned(width < 0 ? 0 : width));
    editor->installEventFilter(const_cast<SpinBoxDelegate*>(this));
    return editor;
}

void SpinBoxDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const
{
    if (auto* box = qobject_cast<HexSpinBox*>(editor))
        box->setValue(index.data(Qt::EditRole).toUInt());
}

void SpinBoxDelegate::setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const
{
    auto* box = qobject_cast<HexSpinBox*>(editor);
    if (!box || !model)
        return;
    box->interpretText();
    const uint value = box->unsignedValue();
    auto write = [model, index, value]() { model->setData(index, value, Qt::EditRole); };
    if (around_write)
        around_write(index, write);
    else
        write();
}

void SpinBoxDelegate::updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option, const QModelIndex&) const
{
    editor->setGeometry(option.rect);
}

#pragma once

#include <functional>

#include <QItemDelegate>
#include <QSpinBox>

// Hexadecimal editor for a register or bitfield of `nrbits` bits. A 32-bit
// editor keeps the value's bit pattern in the signed int of QSpinBox, so
// stepping and wrapping still follow unsigned arithmetic.
class HexSpinBox : public QSpinBox {
    Q_OBJECT
    Q_PROPERTY(uint nrbits READ nrbits WRITE setNrbits)
public:
    explicit HexSpinBox(QWidget* parent = nullptr, unsigned int bits = 8);

    uint nrbits() const { return bits; }
    void setNrbits(uint n);
    // The editor's value as the unsigned number it stands for.
    uint unsignedValue() const { return uint(value()); }

    QValidator::State validate(QString& text, int& pos) const override;
    void stepBy(int steps) override;

public Q_SLOTS:
    void setValue(uint val);

protected:
    QString textFromValue(int value) const override;
    int valueFromText(const QString& text) const override;

private:
    QValidator::State interpret(QString& text, int& pos, int& number) const;
    quint64 maximum_unsigned() const;

    unsigned int bits = 0;
};

// Gives each editable register or bitfield cell a HexSpinBox as wide as the
// value (the model's first user role).
class SpinBoxDelegate : public QItemDelegate {
    Q_OBJECT
public:
    explicit SpinBoxDelegate(QObject* parent = nullptr);

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
    void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override;
    void updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    // When set, every write of an edited cell runs through it (the window
    // records it as one undoable step); it receives the cell and the write.
    std::function<void(const QModelIndex&, const std::function<void()>&)> around_write;
};

#pragma once

#include <QSet>
#include <QChar>

class QWidget;

// Gives every caption label of `page` the field beside it as its buddy and
// a mnemonic no other caption of the page, and none of `taken`, uses. A label
// that already has a mnemonic keeps it.
void assign_label_mnemonics(QWidget* page, QSet<QChar> taken);

// The mnemonic letter of a text ("&Save" gives 'S'), upper case, or a null char.
QChar mnemonic_of(const QString& text);

#pragma once

class QWidget;

// Gives the first column of every grid on `page` the width of its widest
// entry across all of them, so that the fields of stacked groups start at
// one edge. Labels hidden for the current mode count too: fields then keep
// their place when the mode shows them.
void align_label_columns(QWidget* page);

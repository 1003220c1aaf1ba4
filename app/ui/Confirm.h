#pragma once

#include <functional>

#include <QString>

class EvUSBBoard;
class QWidget;

// Asks before something replaces unsaved settings; true to go on. Tests put
// their own answer here instead of a modal box.
extern std::function<bool(QWidget* parent, const QString& question)> confirm_replace;

// True when the board holds settings that are not stored as its defaults:
// register values, or the crystal, channel-access or identity settings.
bool has_unsaved_changes(EvUSBBoard& board);

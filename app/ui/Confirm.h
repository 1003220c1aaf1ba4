#pragma once

#include <functional>

#include <QString>

class QWidget;

namespace KORVIK {
class USBDevice;
}

// Asks before something replaces unsaved settings; true to go on. Tests put
// their own answer here instead of a modal box.
extern std::function<bool(QWidget* parent, const QString& question)> confirm_replace;

// True when the board holds register values that are not stored.
bool has_unsaved_changes(KORVIK::USBDevice& device);

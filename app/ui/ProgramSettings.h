#pragma once

#include <QFileInfo>
#include <QSettings>
#include <QString>

// Keys of what the program remembers between runs (QSettings).
namespace settings_key {
inline const QString geometry = QStringLiteral("window/geometry");
inline const QString state = QStringLiteral("window/state");
inline const QString splitter = QStringLiteral("window/splitter");
inline const QString advanced_pages = QStringLiteral("view/advancedPages");
inline const QString recent_files = QStringLiteral("files/recent");
inline const QString last_folder = QStringLiteral("files/lastFolder");
inline const QString last_server = QStringLiteral("servers/last");
} // namespace settings_key

constexpr int recent_files_kept = 8;

inline QString last_folder()
{
    return QSettings().value(settings_key::last_folder).toString();
}

inline void remember_folder_of(const QString& filename)
{
    QSettings().setValue(settings_key::last_folder, QFileInfo(filename).absolutePath());
}

#pragma once

#include <QString>

#include <string>

class QWidget;

namespace Veltrane {

/// Runs Qt's file dialog, to save (`save` true) or to open a file, starting
/// in the folder remembered in the user's settings under `key` (the current
/// working folder when there is none). A chosen file's folder is remembered
/// under `key` as an absolute path; a cancelled dialog leaves the setting as
/// it was. Returns the chosen path, empty when cancelled. The filter entry
/// the user picked is written to `selectedFilter` when given; its text on
/// entry selects the entry the dialog starts with. GUI thread only.
QString chooseFileName(const QString& key, const QString& caption, const QString& filter, bool save,
                       QString* selectedFilter, QWidget* parent);

/// The bytes of `fileName` as the system's file functions take them, in
/// Qt's encoding of file names (UTF-8 on this platform, whatever characters
/// the name holds), up to the first zero character: the path to give the
/// mesh writers so that they open the file the user chose.
std::string toNativePath(const QString& fileName);

}  // namespace Veltrane

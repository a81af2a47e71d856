#pragma once
// The shop's data folder: where vendabase.accdb (and the transmitter's
// para.ini) live when the programs are started from the desktop menu rather
// than from a terminal inside that folder.
//
// Both programs still work in their working directory; at start they decide
// which folder that is (startFolder below) and change into it, so the
// manager's "Rirodidovu" button hands the same folder to the transmitter.
// The folder the shop uses is remembered in the settings file shared by both
// programs (${XDG_CONFIG_HOME:-~/.config}/Torvane/Torvane.conf, key
// "dataFolder").  Nothing here ever creates a database.

#include <QString>

class QSettings;

namespace torvane::desktop {

class DataFolder {
public:
    // settings: where the choice is kept; null uses the shared settings file.
    explicit DataFolder(QSettings *settings = nullptr);

    // The remembered folder, or an empty text before the first choice.
    QString remembered() const;
    void remember(const QString &folder);
    // "Torvane" under the user's documents folder, or under the XDG data
    // folder when there is no documents folder.
    static QString defaultFolder();
    // The remembered folder, else the default one.
    QString folder() const;

    static QString databasePath(const QString &folder);
    static bool holdsDatabase(const QString &folder);

private:
    QSettings *m_settings;
};

// The settings file shared by both programs.  A test installs a file of its
// own (nullptr puts the shared one back).
QSettings &sharedSettings();
void setSharedSettings(QSettings *settings);

struct StartOptions;

// Said when the folder a program is to work in is not there (a pen drive
// not plugged in, a folder moved or renamed), naming it.  Both programs
// use it.
QString missingFolderText(const QString &folder);

// The folder a program works in:
// - --data-folder=DIR: DIR;
// - --data-folder (the menu's launcher): the shop's folder;
// - neither: the working directory when it holds a database (a start from
//   a terminal in the shop's folder, or from the manager), else the shop's
//   folder.
// Always an absolute path.
QString startFolder(const StartOptions &options, const QString &workingDirectory, const DataFolder &data);

} // namespace torvane::desktop

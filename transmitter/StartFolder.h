#pragma once
// The folder the transmitter works in, entered before its window opens.
//
// Started from the menu (--data-folder) or with --data-folder=DIR, it works
// in the shop's data folder; started by the manager it is already there
// (desktop::startFolder).  A folder that is not there (a pen drive not
// plugged in) is told, naming it, and the program ends: it never goes on in
// the folder it happened to be started from, where a stray vendabase.accdb
// would be sent to the scale in the shop's place.

#include <QString>

namespace torvane::desktop {
class DataFolder;
struct StartOptions;
} // namespace torvane::desktop

namespace torvane::transmitter {

class MessagePresenter;

// Enters the folder and returns true; or tells why not through presenter
// and returns false, leaving the working directory as it was.  A folder
// named on the command line is remembered once it holds a database.
bool enterWorkFolder(const desktop::StartOptions &options, desktop::DataFolder &data, MessagePresenter &presenter);

} // namespace torvane::transmitter

#include "StartFolder.h"

#include "DataFolder.h"
#include "MessagePresenter.h"
#include "StartOptions.h"

#include <QDir>
#include <QFileInfo>

namespace torvane::transmitter {

bool enterWorkFolder(const desktop::StartOptions &options, desktop::DataFolder &data, MessagePresenter &presenter)
{
    const QString folder = desktop::startFolder(options, QDir::currentPath(), data);
    if (!QFileInfo(folder).isDir() || !QDir::setCurrent(folder)) {
        presenter.showMessage(nullptr, QLatin1String(kProgramName), desktop::missingFolderText(folder),
                              MessageIcon::Warning);
        return false;
    }
    if (desktop::DataFolder::holdsDatabase(folder) && !options.dataFolder.isEmpty())
        data.remember(folder);
    return true;
}

} // namespace torvane::transmitter

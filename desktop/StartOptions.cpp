#include "StartOptions.h"

#include <cstdio>

namespace torvane::desktop {

StartOptions parseStartOptions(const QStringList &arguments)
{
    StartOptions o;
    const QString folderPrefix = QStringLiteral("--data-folder=");
    for (int i = 0; i < arguments.size(); ++i) {
        const QString &a = arguments.at(i);
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            o.action = StartOptions::Action::Help;
            return o;
        }
        if (a == QLatin1String("--version") || a == QLatin1String("-v")) {
            o.action = StartOptions::Action::Version;
            return o;
        }
        if (a == QLatin1String("--data-folder")) {
            o.useDataFolder = true;
        } else if (a.startsWith(folderPrefix)) {
            o.dataFolder = a.mid(folderPrefix.size());
            if (o.dataFolder.isEmpty()) {
                o.action = StartOptions::Action::Error;
                o.error = QStringLiteral("--data-folder= needs a folder");
                return o;
            }
        } else {
            o.action = StartOptions::Action::Error;
            o.error = QStringLiteral("unknown option: %1").arg(a);
            return o;
        }
    }
    return o;
}

QString versionText(const QString &program)
{
    return QStringLiteral("%1 %2\n").arg(program, QStringLiteral(TORVANE_VERSION));
}

QString usageText(const QString &program, const QString &description, const QString &extra)
{
    QString t = QStringLiteral("Usage: %1 [--data-folder[=DIR]]\n\n%2\n\n").arg(program, description);
    t += QStringLiteral(
        "Options:\n"
        "  --data-folder        work in the shop's data folder (as the menu entry does)\n"
        "  --data-folder=DIR    work in DIR; it becomes the shop's data folder\n"
        "  -h, --help           show this help\n"
        "  -v, --version        show the version\n\n"
        "Without --data-folder the program works in the current directory when it\n"
        "holds vendabase.accdb, otherwise in the shop's data folder (remembered in\n"
        "~/.config/Torvane/Torvane.conf; at first ~/Documents/Torvane or\n"
        "~/.local/share/torvane).\n");
    if (!extra.isEmpty())
        t += QLatin1Char('\n') + extra;
    return t;
}

int answerCommandLine(const StartOptions &options, const QString &program, const QString &description,
                      const QString &extra)
{
    switch (options.action) {
    case StartOptions::Action::Run:
        return -1;
    case StartOptions::Action::Help:
        std::fputs(usageText(program, description, extra).toLocal8Bit().constData(), stdout);
        return 0;
    case StartOptions::Action::Version:
        std::fputs(versionText(program).toLocal8Bit().constData(), stdout);
        return 0;
    case StartOptions::Action::Error:
        std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", program.toLocal8Bit().constData(),
                     options.error.toLocal8Bit().constData(), program.toLocal8Bit().constData());
        return 2;
    }
    return 2;
}

} // namespace torvane::desktop

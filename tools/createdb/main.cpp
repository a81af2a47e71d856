// torvane-createdb: makes a new vendabase.accdb with its product slots.
//
//   torvane-createdb [--slots N] [--demo] [--as-delivered] [FILE]
//   torvane-createdb --copy-from OLD.accdb [FILE]
//   torvane-createdb --backup-command [FILE]
//   torvane-createdb --roles
//
// FILE defaults to vendabase.accdb in the current directory.  An existing
// file is never overwritten.  When FILE's folder holds vendabase.pgconn the
// base is made on that PostgreSQL server instead; --copy-from then moves an
// existing file's products, uploads, sales and settings onto it.  --roles
// prints the server's least-privilege set-up (ServerRoles.h).
// --backup-command prints the pg_dump command that copies that server base,
// for the shop to schedule.
#include "BaseCopies.h"
#include "Engine.h"
#include "Schema.h"
#include "ServerRoles.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTextStream>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("torvane-createdb"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TORVANE_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Creates a new Torvane product database."));
    parser.addHelpOption();
    parser.addVersionOption();
    QCommandLineOption slotsOpt(QStringLiteral("slots"), QStringLiteral("Number of product slots (default 500)."),
                                QStringLiteral("N"), QStringLiteral("500"));
    QCommandLineOption demoOpt(QStringLiteral("demo"), QStringLiteral("Fill the first slots with demo products."));
    QCommandLineOption oldOpt(QStringLiteral("as-delivered"),
                              QStringLiteral("Use the older schema (no Config, Codigo, BarcodeMode, Prefixb, flgDel)"
                                             " so the manager's upgrade can be tried."));
    QCommandLineOption copyOpt(QStringLiteral("copy-from"),
                               QStringLiteral("Copy an existing database file onto the server named by the"
                                              " vendabase.pgconn beside FILE."),
                               QStringLiteral("OLD"));
    QCommandLineOption backupOpt(QStringLiteral("backup-command"),
                                 QStringLiteral("Print the pg_dump command that copies the server base named by the"
                                                " vendabase.pgconn beside FILE into a dated file, to be scheduled."));
    QCommandLineOption rolesOpt(QStringLiteral("roles"),
                                QStringLiteral("Print the PostgreSQL set-up of an owner role that creates and upgrades"
                                               " the base and PC roles that only read and write its rows."));
    parser.addOptions({slotsOpt, demoOpt, oldOpt, copyOpt, backupOpt, rolesOpt});
    parser.addPositionalArgument(QStringLiteral("file"), QStringLiteral("Database file (default vendabase.accdb)."));
    parser.process(app);

    if (parser.isSet(rolesOpt)) {
        QTextStream(stdout) << torvane::schema::serverRolesScript();
        return 0;
    }

    QTextStream err(stderr);
    bool ok = false;
    const int slotCount = parser.value(slotsOpt).toInt(&ok);
    if (!ok || slotCount < 0 || slotCount > 65535) {
        err << "torvane-createdb: --slots takes a whole number from 0 to 65535\n";
        return 2;
    }
    const QStringList args = parser.positionalArguments();
    if (args.size() > 1) {
        err << "torvane-createdb: one file at most\n";
        return 2;
    }
    const QString path = args.isEmpty() ? QStringLiteral("vendabase.accdb") : args.first();
    // Where the base goes: the file, or the server its folder's connection
    // file names (said as such, with the connection, which holds no password).
    QString target = path;
    if (const QString serverFile = torvane::db::serverFileFor(path); !serverFile.isEmpty()) {
        QString conninfo, error;
        torvane::db::readServerFile(serverFile, &conninfo, &error);
        target = QStringLiteral("the server of %1 (%2)").arg(serverFile, conninfo);
    }

    if (parser.isSet(backupOpt)) {
        // The programs copy a file base themselves (folder "copias"); a
        // server base is dumped by the server's own tool on a schedule.
        const QString serverFile = torvane::db::serverFileFor(path);
        QString connection, error;
        if (serverFile.isEmpty()) {
            err << "torvane-createdb: no " << torvane::db::kServerFileName << " beside " << path
                << ": a base in a file is copied by the manager itself, into the folder "
                << torvane::db::kCopiesFolder << " beside it\n";
            return 1;
        }
        if (!torvane::db::readServerFile(serverFile, &connection, &error)) {
            err << "torvane-createdb: " << error << '\n';
            return 1;
        }
        const QString folder = QDir(QFileInfo(path).absolutePath()).filePath(QLatin1String(torvane::db::kCopiesFolder));
        QTextStream(stdout) << torvane::db::backupCommand(connection, folder) << '\n';
        return 0;
    }

    if (parser.isSet(copyOpt)) {
        QString summary, error;
        if (!torvane::schema::copyFileToServer(parser.value(copyOpt), path, &summary, &error)) {
            err << "torvane-createdb: " << error << '\n';
            return 1;
        }
        QTextStream(stdout) << "copied " << parser.value(copyOpt) << " to " << target << ": " << summary << '\n';
        return 0;
    }

    torvane::schema::CreateOptions options;
    options.slotCount = slotCount;
    options.demoProducts = parser.isSet(demoOpt);
    options.layout = parser.isSet(oldOpt) ? torvane::schema::Layout::AsDelivered : torvane::schema::Layout::Current;

    QString error;
    if (!torvane::schema::createDatabaseFile(path, options, &error)) {
        err << "torvane-createdb: " << error << '\n';
        return 1;
    }
    QTextStream(stdout) << "created " << (target == path ? path : QStringLiteral("the product base on ") + target)
                        << " with " << slotCount << " product slots\n";
    return 0;
}

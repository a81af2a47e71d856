// Times the copy of a base that every command changing many products makes
// first, and a restore, on 5,000 products with 100,000 sales (a busy year):
// the wait the operator has before such a command.  Prints the figures.
//
//   build/bin/bench_copies [--repeat N]     (best of N, default 5)
#include "BaseCopies.h"
#include "Db.h"
#include "Schema.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <limits>

using namespace torvane;

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int repeat = 5;
    for (int i = 1; i + 1 < argc; ++i)
        if (QByteArray(argv[i]) == "--repeat")
            repeat = std::max(1, atoi(argv[i + 1]));

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("vendabase.accdb"));
    schema::CreateOptions options;
    options.slotCount = 5000;
    QString error;
    if (!schema::createDatabaseFile(path, options, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    auto conn = db::Connection::open(path, &error);   // WAL, as the programs keep it
    if (!conn) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    {
        QSqlQuery q(conn->database());
        q.exec(QStringLiteral("BEGIN"));
        q.exec(QStringLiteral("UPDATE PLU SET Codigo = pluNo, pluDesc = 'PRODUTO ' || pluNo, Preco = 12.5, "
                              "unitPrice = 1250"));
        q.prepare(QStringLiteral("INSERT INTO RECORD (pluNo, pluDesc, weight, totalPrice) VALUES (?, ?, ?, ?)"));
        for (int i = 0; i < 100000; ++i) {
            q.addBindValue(1 + i % 5000);
            q.addBindValue(QStringLiteral("PRODUTO %1").arg(1 + i % 5000));
            q.addBindValue(i % 3000);
            q.addBindValue(i % 9000);
            q.exec();
        }
        q.exec(QStringLiteral("COMMIT"));
    }
    const db::BaseCopies copies(path);
    double copyMs = std::numeric_limits<double>::max(), restoreMs = copyMs;
    QString made;
    for (int r = 0; r < repeat; ++r) {
        QElapsedTimer t;
        t.start();
        if (!copies.make(db::CopyReason::Import, 20, &error, &made)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
        copyMs = std::min(copyMs, t.nsecsElapsed() / 1e6);
        t.start();
        if (!copies.restore(made, made, &error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
        restoreMs = std::min(restoreMs, t.nsecsElapsed() / 1e6);
    }
    std::printf("base of 5,000 products and 100,000 sales: %.1f MB\n", QFileInfo(made).size() / 1e6);
    std::printf("copy before a command: %.0f ms (best of %d)\n", copyMs, repeat);
    std::printf("restore (the copy's check, the backup into the live base, the sales kept): %.0f ms\n", restoreMs);
    return 0;
}

// Times the product search's statement over a product table with the
// patterns an operator can type, the worst first: "%A%A%A%A%A%A%A%A%B" (the
// "any part of the field" option adds the outer "%") against descriptions of
// 22 letters "A", which match every "A" and never the "B".
// Prints milliseconds per search; each should stay well under 100 ms.
//
//   build/bin/bench_search [ROWS]      (default 5000)
#include "Db.h"
#include "Schema.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <cstdio>

using namespace torvane;

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int rows = argc > 1 ? std::max(1, atoi(argv[1])) : 5000;
    QTemporaryDir dir;
    const QString path = dir.filePath(QLatin1String(db::kDatabaseFileName));
    schema::CreateOptions options;
    options.slotCount = rows;
    QString error;
    if (!schema::createDatabaseFile(path, options, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    auto connection = db::Connection::open(path, &error);
    if (!connection) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    QSqlQuery q(connection->database());
    q.exec(QStringLiteral("Update PLU Set pluDesc = '%1'").arg(QString(22, u'A')));

    const QStringList patterns = {
        QStringLiteral("%%A%A%A%A%A%A%A%A%B%"),
        QStringLiteral("%") + QStringLiteral("%A").repeated(14) + QStringLiteral("%B%"),
        QStringLiteral("%BANANA%"),
        QStringLiteral("A_A_A_A_A%"),
    };
    std::printf("%d rows, descriptions of 22 letters\n", rows);
    for (const QString &pattern : patterns) {
        const QString sql = QStringLiteral("Select * From PLU\n Where UCase( pluDesc) Like '%1'").arg(pattern);
        constexpr int kRuns = 5;
        qint64 worst = 0;
        int found = 0;
        for (int run = 0; run < kRuns; ++run) {
            QElapsedTimer clock;
            clock.start();
            if (!q.exec(sql)) {
                std::fprintf(stderr, "%s\n", qPrintable(db::errorText(q.lastError())));
                return 1;
            }
            found = 0;
            while (q.next())
                ++found;
            worst = std::max(worst, clock.nsecsElapsed());
        }
        std::printf("  %-36s %6d matches  %8.2f ms per search (worst of %d)\n", qPrintable(pattern), found,
                    double(worst) / 1e6, kRuns);
    }
    return 0;
}

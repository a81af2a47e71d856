// torvane-products: the product list of a base to a file, for scripts.
//
//   torvane-products export [--database FILE] [--format csv|csv-1252|fixed] OUT
//
// OUT "-" writes to standard output.  The same export as the manager's
// "Arquivo", "Exportar produtos": every slot as CSV (UTF-8 with a
// byte-order mark, or Windows-1252; ";" and decimal comma, a heading row),
// or the products in the fixed columns that "Importar" reads.
#include "Db.h"
#include "ProductSheet.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QTextStream>

#include <cstdio>

using namespace torvane;

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("torvane-products"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TORVANE_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Exports the product list of a Torvane base.\n\n"
        "  export OUT   every product slot as CSV (UTF-8 with a byte-order mark, ';' between fields, decimal comma,\n"
        "               a heading row), or the products in the fixed columns the manager's import reads.\n"
        "               OUT '-' writes to standard output.\n\n"
        "Exit status: 0 done, 1 the base or the file could not be read or written, 2 bad command line."));
    parser.addHelpOption();
    parser.addVersionOption();
    QCommandLineOption databaseOpt(QStringLiteral("database"),
                                   QStringLiteral("The base (default vendabase.accdb in the current directory, or the "
                                                  "server named by the vendabase.pgconn beside it)."),
                                   QStringLiteral("FILE"), QString::fromLatin1(db::kDatabaseFileName));
    QCommandLineOption formatOpt(QStringLiteral("format"),
                                 QStringLiteral("csv (UTF-8, the default), csv-1252 (Windows-1252) or fixed (the "
                                                "fixed-column text of the import, Windows-1252)."),
                                 QStringLiteral("FORMAT"), QStringLiteral("csv"));
    parser.addOptions({databaseOpt, formatOpt});
    parser.addPositionalArgument(QStringLiteral("export"), QStringLiteral("The action."));
    parser.addPositionalArgument(QStringLiteral("OUT"), QStringLiteral("The file to write, or - for standard output."));
    parser.process(app);

    QTextStream err(stderr);
    const QStringList args = parser.positionalArguments();
    if (args.size() != 2 || args.first() != QLatin1String("export")) {
        err << "torvane-products: usage: torvane-products export [--database FILE] [--format csv|csv-1252|fixed] OUT\n";
        return 2;
    }
    const QString formatName = parser.value(formatOpt);
    manager::ExportFormat format;
    if (formatName == QLatin1String("csv"))
        format = manager::ExportFormat::CsvUtf8;
    else if (formatName == QLatin1String("csv-1252"))
        format = manager::ExportFormat::Csv1252;
    else if (formatName == QLatin1String("fixed"))
        format = manager::ExportFormat::FixedColumns;
    else {
        err << "torvane-products: --format takes csv, csv-1252 or fixed\n";
        return 2;
    }

    QString error;
    auto conn = db::Connection::open(parser.value(databaseOpt), &error, true);
    if (!conn) {
        err << "torvane-products: " << error << '\n';
        return 1;
    }
    const QString out = args.at(1);
    manager::ExportOutcome outcome;
    bool ok = false;
    if (out == QLatin1String("-")) {
        QByteArray bytes;
        ok = manager::exportProducts(conn->database(), format, &bytes, &outcome, &error);
        if (ok) {
            QFile stdoutFile;
            ok = stdoutFile.open(stdout, QIODevice::WriteOnly) && stdoutFile.write(bytes) == bytes.size() &&
                 stdoutFile.flush();
            if (!ok)
                error = stdoutFile.errorString();
        }
    } else {
        ok = manager::exportProductsTo(conn->database(), format, out, &outcome, &error);
    }
    if (!ok) {
        err << "torvane-products: " << error << '\n';
        return 1;
    }
    if (format == manager::ExportFormat::FixedColumns) {
        err << "exported " << outcome.rows << " products";
        if (outcome.skipped)
            err << ", " << outcome.skipped << " left out (code, price or shelf life too long for the fixed columns)";
        if (outcome.cut)
            err << ", " << outcome.cut << " descriptions cut to 22 characters";
    } else {
        err << "exported " << outcome.rows << " slots (" << outcome.products << " with a product)";
    }
    err << '\n';
    return 0;
}

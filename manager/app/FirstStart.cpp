#include "FirstStart.h"

#include "DataFolder.h"
#include "OperatorDialogs.h"
#include "Schema.h"

#include <QDir>

namespace torvane::manager {

FirstStart::FirstStart(desktop::DataFolder &data, OperatorDialogs &dialogs) : m_data(data), m_dialogs(dialogs) {}

QString FirstStart::questionText(const QString &folder)
{
    return QStringLiteral("Não há banco de dados de produtos (vendabase.accdb) na pasta\n%1\n\n"
                          "Criar um novo banco de dados nesta pasta, com produtos de demonstração ou vazio?\n"
                          "Se os dados da loja estão em outra pasta, escolha \"Outra pasta\".")
        .arg(QDir::toNativeSeparators(folder));
}

QString FirstStart::createdText(const QString &databasePath)
{
    return QStringLiteral("O banco de dados foi criado em\n%1\n\n"
                          "O Torvane e o Rirodidovu usarão esta pasta nas próximas vezes.")
        .arg(QDir::toNativeSeparators(databasePath));
}

QString FirstStart::prepare(const QString &start, bool remember)
{
    QString folder = start;
    for (;;) {
        if (desktop::DataFolder::holdsDatabase(folder)) {
            if (remember)
                m_data.remember(folder);
            return folder;
        }
        const int answer = m_dialogs.choose(kCaptionChoice, questionText(folder),
                                            {QStringLiteral("Criar com produtos de &demonstração"),
                                             QStringLiteral("Criar &vazio"), QStringLiteral("&Outra pasta..."),
                                             QStringLiteral("&Sair")});
        switch (answer) {
        case CreateDemo:
        case CreateEmpty:
            if (create(folder, answer == CreateDemo)) {
                m_data.remember(folder);
                m_dialogs.message(kCaptionInformation,
                                  createdText(desktop::DataFolder::databasePath(folder)),
                                  DialogIcon::Information);
                return folder;
            }
            break; // the error was shown; ask again
        case OtherFolder: {
            const QString chosen =
                m_dialogs.existingFolder(QStringLiteral("Pasta dos dados da loja"), folder);
            if (!chosen.isEmpty()) {
                folder = QDir::cleanPath(QDir(chosen).absolutePath());
                remember = true; // chosen by the operator
            }
            break;
        }
        default:
            return QString();
        }
    }
}

bool FirstStart::create(const QString &folder, bool demo)
{
    QString error;
    if (!QDir().mkpath(folder)) {
        error = QStringLiteral("A pasta não pôde ser criada.");
    } else {
        schema::CreateOptions options;
        options.demoProducts = demo;
        if (schema::createDatabaseFile(desktop::DataFolder::databasePath(folder), options, &error))
            return true;
    }
    m_dialogs.message(kCaptionError,
                      QStringLiteral("Não foi possível criar o banco de dados em\n%1\n\n%2")
                          .arg(QDir::toNativeSeparators(folder), error),
                      DialogIcon::Error);
    return false;
}

} // namespace torvane::manager

#include "ManagerTestSupport.h"

#include "DataFolder.h"
#include "DataModule.h"
#include "Db.h"
#include "Engine.h"
#include "ServerBase.h"
#include "Globals.h"
#include "ProductForm.h"
#include "StatusWindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QSettings>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QFile>
#include <QCryptographicHash>
#include <QTableView>
#include <QTest>

#include <gtest/gtest.h>

namespace torvane::test {

using manager::DialogIcon;

ScriptedDialogs::ScriptedDialogs()
{
    manager::setOperatorDialogs(this);
}

ScriptedDialogs::~ScriptedDialogs()
{
    manager::setOperatorDialogs(nullptr);
}

void ScriptedDialogs::message(const QString &caption, const QString &text, DialogIcon icon)
{
    m_shown.push_back({ShownDialog::Kind::Message, caption, text, icon});
}

bool ScriptedDialogs::confirm(const QString &caption, const QString &text)
{
    m_shown.push_back({ShownDialog::Kind::Confirm, caption, text, DialogIcon::Question});
    if (m_confirms.empty()) {
        ++m_unexpected;
        return false;
    }
    const bool yes = m_confirms.front();
    m_confirms.pop_front();
    return yes;
}

bool ScriptedDialogs::inputText(const QString &caption, const QString &prompt, QString *value)
{
    m_shown.push_back({ShownDialog::Kind::Input, caption, prompt, DialogIcon::None});
    if (m_inputs.empty()) {
        ++m_unexpected;
        return false;
    }
    const QString answer = m_inputs.front();
    m_inputs.pop_front();
    if (answer.isNull())
        return false;
    *value = answer;
    return true;
}

QString ScriptedDialogs::openFileName(const QString &caption, const QString &directory, const QString &filter)
{
    m_shown.push_back({ShownDialog::Kind::OpenFile, caption, QString(), DialogIcon::None});
    lastFileDirectory = directory;
    lastFileFilter = filter;
    if (m_files.empty()) {
        ++m_unexpected;
        return {};
    }
    const QString answer = m_files.front();
    m_files.pop_front();
    return answer;
}

QStringList ScriptedDialogs::messages() const
{
    QStringList out;
    for (const ShownDialog &d : m_shown)
        if (d.kind == ShownDialog::Kind::Message)
            out << d.text;
    return out;
}

const ShownDialog *ScriptedDialogs::lastMessage() const
{
    for (auto it = m_shown.rbegin(); it != m_shown.rend(); ++it)
        if (it->kind == ShownDialog::Kind::Message)
            return &*it;
    return nullptr;
}

int ScriptedDialogs::choose(const QString &caption, const QString &text, const QStringList &)
{
    m_shown.push_back({ShownDialog::Kind::Choose, caption, text, DialogIcon::Question});
    if (m_chooses.empty()) {
        ++m_unexpected;
        return -1;
    }
    const int answer = m_chooses.front();
    m_chooses.pop_front();
    return answer;
}

RecordingShell::RecordingShell()
{
    manager::setShellActions(this);
}

RecordingShell::~RecordingShell()
{
    manager::setShellActions(nullptr);
}

bool RecordingShell::startDetached(const QString &program, const QString &workingDirectory)
{
    started.push_back({program, workingDirectory});
    return succeed;
}

bool RecordingShell::openDocument(const QString &path)
{
    opened << path;
    return succeed;
}

TempDatabase::TempDatabase(const schema::CreateOptions &options)
{
    QString error;
    useServerBase(m_dir.path());
    EXPECT_TRUE(schema::createDatabaseFile(path(), options, &error)) << error.toStdString();
}

void TempDatabase::exec(const QString &sql) const
{
    QString error;
    auto conn = db::Connection::open(path(), &error);
    ASSERT_TRUE(conn) << error.toStdString();
    QSqlQuery q(conn->database());
    EXPECT_TRUE(q.exec(db::mapAccessSql(conn->database(), sql))) << sql.toStdString() << ": "
                                                << q.lastError().text().toStdString();
}

QVariant TempDatabase::scalar(const QString &sql) const
{
    QString error;
    auto conn = db::Connection::open(path(), &error);
    if (!conn) {
        ADD_FAILURE() << error.toStdString();
        return {};
    }
    QVariant out;
    {
        QSqlQuery q(conn->database());
        if (q.exec(db::mapAccessSql(conn->database(), sql)) && q.next())
            out = q.value(0);
    }
    return out;
}

QVariantList TempDatabase::column(const QString &column) const
{
    QString error;
    auto conn = db::Connection::open(path(), &error);
    QVariantList out;
    if (!conn) {
        ADD_FAILURE() << error.toStdString();
        return out;
    }
    QSqlQuery q(conn->database());
    if (!q.exec(QStringLiteral("SELECT %1 FROM PLU ORDER BY pluNo").arg(column)))
        ADD_FAILURE() << q.lastError().text().toStdString();
    while (q.next())
        out << q.value(0);
    return out;
}

QByteArray TempDatabase::state() const
{
    if (!onServer()) {
        QFile file(path());
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
    }
    QString error;
    auto conn = db::Connection::open(path(), &error);
    EXPECT_TRUE(conn) << error.toStdString();
    QByteArray out;
    if (!conn)
        return out;
    QSqlQuery q(conn->database());
    for (const char *sql : {"SELECT * FROM PLU ORDER BY pluNo", "SELECT * FROM Config"}) {
        EXPECT_TRUE(q.exec(QLatin1String(sql)));
        while (q.next())
            for (int i = 0; i < q.record().count(); ++i)
                out += q.value(i).toString().toUtf8() + '|';
        out += '\n';
    }
    return out;
}

FormFixture::FormFixture(const QString &databasePath)
{
    settings = std::make_unique<QSettings>(settingsDir.filePath(QStringLiteral("Torvane.conf")), QSettings::IniFormat);
    desktop::setSharedSettings(settings.get());
    dm = std::make_unique<manager::TDM>();
    dm->setDatabasePath(databasePath);
    status = std::make_unique<manager::TfrmStatus>();
    form = std::make_unique<manager::TfrmProdutos>(dm.get(), status.get());
    manager::DM = dm.get();
    manager::frmStatus = status.get();
    manager::frmProdutos = form.get();
}

FormFixture::~FormFixture()
{
    manager::frmProdutos = nullptr;
    manager::frmStatus = nullptr;
    manager::DM = nullptr;
    if (form) {
        if (form->qryProdutos->isEditing())
            form->qryProdutos->cancel();
        form->close();
    }
    form.reset();
    status.reset();
    dm.reset();
    desktop::setSharedSettings(nullptr);
}

bool FormFixture::start()
{
    form->show();
    return form->FormShow();
}

void FormFixture::type(QLineEdit *edit, const QString &text)
{
    edit->setFocus();
    edit->selectAll();
    if (text.isEmpty())
        QTest::keyClick(edit, Qt::Key_Delete);
    else
        QTest::keyClicks(edit, text);
}

void FormFixture::click(QAbstractButton *button)
{
    QTest::mouseClick(button, Qt::LeftButton);
}

QString FormFixture::cell(int row, const QString &title) const
{
    const int column = form->dsProdutos->columnOfTitle(title);
    return form->DBGrid1->model()->index(row, column).data().toString();
}

void FormFixture::selectSlot(int pluNo)
{
    for (int row = 0; row < form->qryProdutos->count(); ++row) {
        if (form->qryProdutos->value(row, QStringLiteral("pluNo")).toInt() == pluNo) {
            QTableView *grid = form->DBGrid1;
            const QRect r = grid->visualRect(grid->model()->index(row, 2));
            if (r.isValid() && grid->viewport()->rect().intersects(r))
                QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, r.center());
            else
                grid->setCurrentIndex(grid->model()->index(row, 2));
            return;
        }
    }
    ADD_FAILURE() << "no slot " << pluNo;
}

} // namespace torvane::test

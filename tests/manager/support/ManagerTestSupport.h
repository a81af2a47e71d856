#pragma once
// Helpers for the manager's tests: scripted operator dialogs that record
// what the operator would have seen and answer from queues, a shell that
// records the programs and documents it was asked to start, a temporary
// database, and a fixture that builds the real product form on it.

#include "OperatorDialogs.h"
#include "Schema.h"
#include "ServerBase.h"

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariant>
#include <QVector>

#include <deque>
#include <memory>

class QSettings;

class QAbstractButton;
class QLineEdit;

namespace torvane::manager {
class TDM;
class TfrmProdutos;
class TfrmStatus;
} // namespace torvane::manager

namespace torvane::test {

struct ShownDialog {
    enum class Kind { Message, Confirm, Input, OpenFile, Choose };
    Kind kind;
    QString caption;
    QString text;
    manager::DialogIcon icon = manager::DialogIcon::None;
};

// Installed as the process-wide dialogs while alive.  Questions without a
// queued answer are answered No / Cancel and counted as unexpected.
class ScriptedDialogs : public manager::OperatorDialogs {
public:
    ScriptedDialogs();
    ~ScriptedDialogs() override;

    void message(const QString &caption, const QString &text, manager::DialogIcon icon) override;
    bool confirm(const QString &caption, const QString &text) override;
    bool inputText(const QString &caption, const QString &prompt, QString *value) override;
    QString openFileName(const QString &caption, const QString &directory, const QString &filter) override;
    // Answered from the same queue as openFileName.
    QString saveFileName(const QString &caption, const QString &suggested, const QString &filter) override
    {
        return openFileName(caption, suggested, filter);
    }

    // Answered from its own queue: the index of the button pressed.
    int choose(const QString &caption, const QString &text, const QStringList &buttons) override;

    void answerConfirm(bool yes) { m_confirms.push_back(yes); }
    void answerChoose(int button) { m_chooses.push_back(button); }
    // An input answer; a null QString means Cancel.
    void answerInput(const QString &text) { m_inputs.push_back(text); }
    void answerOpenFile(const QString &path) { m_files.push_back(path); }

    const QVector<ShownDialog> &shown() const { return m_shown; }
    // Texts of the message boxes only, in order.
    QStringList messages() const;
    const ShownDialog *lastMessage() const;
    int unexpected() const { return m_unexpected; }
    int pendingAnswers() const
    {
        return int(m_confirms.size() + m_inputs.size() + m_files.size() + m_chooses.size());
    }
    void clear() { m_shown.clear(); }
    // The directory and filter of the last file dialog.
    QString lastFileDirectory, lastFileFilter;

private:
    QVector<ShownDialog> m_shown;
    std::deque<bool> m_confirms;
    std::deque<QString> m_inputs;
    std::deque<QString> m_files;
    std::deque<int> m_chooses;
    int m_unexpected = 0;
};

class RecordingShell : public manager::ShellActions {
public:
    RecordingShell();
    ~RecordingShell() override;
    bool startDetached(const QString &program, const QString &workingDirectory) override;
    bool openDocument(const QString &path) override;

    struct Started {
        QString program;
        QString workingDirectory;
    };
    QVector<Started> started;
    QStringList opened;
    bool succeed = true;
};

// Options for a fresh database of n slots.
inline schema::CreateOptions dbOptions(int slotCount, bool demo = false,
                                       schema::Layout layout = schema::Layout::Current)
{
    schema::CreateOptions o;
    o.slotCount = slotCount;
    o.demoProducts = demo;
    o.layout = layout;
    return o;
}

// A vendabase.accdb in a fresh temporary folder.
class TempDatabase {
public:
    explicit TempDatabase(const schema::CreateOptions &options = {});
    QString path() const { return m_dir.filePath(QStringLiteral("vendabase.accdb")); }
    QString dirPath() const { return m_dir.path(); }
    // Runs one statement on a separate connection (to prepare a case).
    void exec(const QString &sql) const;
    // One value read back on a separate connection.
    QVariant scalar(const QString &sql) const;
    // A column of every row, in pluNo order.
    QVariantList column(const QString &column) const;
    // The base as a whole, to tell whether anything changed: the file's
    // bytes (taken with no connection open, the file then holds every
    // committed page), or every row of PLU and Config on the server.
    QByteArray state() const;

private:
    QTemporaryDir m_dir;
};

// The real product form, data module and progress window over a database
// file, with scripted dialogs and a recording shell installed, and a
// settings file of its own (nothing is remembered in the user's).
class FormFixture {
public:
    explicit FormFixture(const QString &databasePath);
    ~FormFixture();

    // Shows the form and runs the start sequence.
    bool start();

    // Edit panel helpers: type into a field the way an operator does
    // (select all, type), and press toolbar buttons.
    void type(QLineEdit *edit, const QString &text);
    void click(QAbstractButton *button);
    // The text the grid shows at row, under the column titled title.
    QString cell(int row, const QString &title) const;
    // Moves to the row whose pluNo is given (clicking it in the grid).
    void selectSlot(int pluNo);

    ScriptedDialogs dialogs;
    RecordingShell shell;
    QTemporaryDir settingsDir;
    std::unique_ptr<QSettings> settings;
    std::unique_ptr<manager::TDM> dm;
    std::unique_ptr<manager::TfrmStatus> status;
    std::unique_ptr<manager::TfrmProdutos> form;
};

} // namespace torvane::test

#pragma once
// Brings an older database file up to the current schema when the manager
// starts: probes for the tables and columns later versions added, creates
// what is missing, makes sure the settings row holds a valid code size and,
// the first time one is set, fills every product's Codigo from its scale
// code through the product form's save procedure.
//
// The upgrade talks to the window through UpgradeHost: messages, closing the
// program, the product list, the save procedure and the progress window.

#include <QSqlDatabase>
#include <QString>
#include <QStringList>

#include <optional>

namespace torvane::db {

class ConfigRow;
struct SchemaStep;

class UpgradeHost {
public:
    enum class SaveResult { Saved, Refused, Failed };

    virtual ~UpgradeHost() = default;
    // "Informação" message box with an exclamation icon.
    virtual void showInformation(const QString &text) = 0;
    // Closes the main window, which ends the program.
    virtual void closeMainWindow() = 0;

    // The product list: (re)open it and walk its rows.
    virtual bool openProductList(QString *error) = 0;
    virtual int productCount() = 0;
    virtual void firstProduct() = 0;
    virtual void nextProduct() = 0;
    virtual QString currentPluCode() = 0;
    // Whether the current row already holds a Codigo: the back-fill only
    // fills rows whose Codigo is still empty.
    virtual bool currentHasCodigo() { return false; }
    // Edits the current row, sets Codigo and saves it through the full save
    // procedure.  Refused: the procedure showed its own message.  Failed:
    // *error holds the database's text.
    virtual SaveResult saveCurrentCodigo(qint64 codigo, QString *error) = 0;
    // Asked once before the first code is filled: whether the codes the
    // rows without one would get can all be saved (no two products on one
    // code).  When not, it has said which products are in the way, and
    // nothing is filled.
    virtual bool backFillAllowed() { return true; }
    // Called once the filling ends, however it ended, before its
    // transaction is committed: a host that sends its saves several at a
    // time sends the last ones.  False with *error when one of them failed
    // (the filling stops there; the saves before it stay).
    virtual bool finishSaves(QString *error)
    {
        (void)error;
        return true;
    }

    // Asked once, before the upgrade changes anything in the base (the
    // manager copies the base here).  False: the operator chose not to go
    // on, and the upgrade stops before its first change.
    virtual bool beforeChange() { return true; }

    // The progress window: message, show (bar only, centred), step, hide.
    virtual void progressMessage(const QString &text) = 0;
    virtual void progressShow(const QString &caption, int maximum) = 0;
    virtual void progressStep() = 0;
    virtual void progressHide() = 0;
};

class DatabaseUpgrade {
public:
    enum class Outcome {
        Completed,       // the schema is current; the start sequence goes on
        RestartRequired, // Config was created: the program was asked to end
        Failed,          // stopped on an error; the start sequence stops
    };
    struct Result {
        Outcome outcome = Outcome::Completed;
        // The error to show (empty when it was already shown, as for a
        // save refused by the save procedure).
        QString error;
        bool errorShown = false;
    };

    // config is the data module's settings row: opened by step 5 and left
    // open for the whole run.
    DatabaseUpgrade(const QSqlDatabase &db, ConfigRow &config, UpgradeHost &host);

    Result run();

    // Every probe and statement run, in order, as written (before the
    // dialect mapping), for the tests and for support.
    const QStringList &statements() const { return m_statements; }
    // How long the settings row and the filling of the codes took, from
    // their transaction's start to its commit (0 when the run stopped
    // before): the part of the start that grows with the products.
    qint64 backFillNanoseconds() const { return m_backFillNs; }

    static const QString kRestartMessage;
    // The upgrade stopped before its first change because beforeChange()
    // said no.
    static const QString kNotChangedMessage;
    static const QString kBackFillMessage;
    // Said once when the stored CodeSize is not 4, 5 or 6 (%1: the value).
    static QString invalidCodeSizeMessage(int stored);
    // Told when the engine cannot take the products' unique codes because
    // some repeat already (repeated: one line per product, Engine.h).
    static QString uniqueCodesMessage(const QStringList &repeated, const QString &error);
    // Said when the back-fill stops with rows still without a code.
    static QString rowsLeftMessage(int rows, const QString &why);
    // Index that keeps the duplicate-code look-up of each save fast; made
    // before the back-fill and in new bases (SchemaSteps.h).
    static const QString kPluCodeIndex;

private:
    // True when the statement runs; false when the table or column it names
    // is missing.  Any other error (a lock, a damaged file) is no sign of a
    // missing column: it is kept in m_probeError and stops the upgrade.
    bool probe(const QString &sql);
    bool execute(const QString &sql, QString *error);
    // Whether the upgrade may change the base: beforeChange(), asked once.
    bool mayChange();
    // Adds what one of the later additions finds missing.
    bool addStep(const SchemaStep &step, QString *error);
    Result backFill();
    // The filling of every empty code, row by row (backFill without its
    // checks before and after).
    Result fillCodes(int rows);

    QSqlDatabase m_db;
    ConfigRow &m_config;
    UpgradeHost &m_host;
    QStringList m_statements;
    QString m_probeError;
    QString m_backFillRefusal;
    std::optional<bool> m_mayChange;
    qint64 m_backFillNs = 0;
};

} // namespace torvane::db

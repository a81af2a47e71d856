#pragma once
// What later versions added to the schema, after the columns the upgrade
// names one by one (Config, Codigo, BarcodeMode, Prefixb, flgPrefixo2,
// flgDel): one list, in the order the additions were made.  The manager's
// upgrade runs it at every start (each step adds only what is missing) and
// every new base is created through it, so a base made with
// torvane-createdb holds all of it before any program opens it (the sales
// key before torvane-transfer reads sales into it, say).
//
// An addition to the schema is one more step here, and nowhere else.

#include <QSqlDatabase>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

namespace torvane::db {

struct SchemaStep {
    // The upgrade's probe, as written: it fails when the addition is
    // missing.  Empty for a step that looks for itself (present, ensure).
    QString probe;
    // Whether the addition is there, for a step without a probe.
    std::function<bool(const QSqlDatabase &)> present;
    // Run in order when it is missing (always on a new base).
    QStringList create;
    // A step that looks at the base and adds what is missing itself.  With
    // present, the upgrade runs it only when present says something is
    // missing (so it knows before the first change that one is coming).
    std::function<bool(const QSqlDatabase &, QString *error)> ensure;
    // Products do not need it: a base that cannot take it (a read-only
    // file) still opens, and the next start tries again.
    bool optional = false;
    // A rule on the products' codes: run once every product has its code
    // (after the upgrade's back-fill).  A failure is told with this text
    // (from the base as it stands and the engine's words) and the products
    // stay usable.
    std::function<QString(const QSqlDatabase &db, const QString &error)> afterCodesRefusal;
};

const std::vector<SchemaStep> &schemaSteps();

// Runs every step on a base just created with the current tables (inside
// the creation's transaction).  False with *error on the first failure.
bool createSchemaAdditions(const QSqlDatabase &db, QString *error);

} // namespace torvane::db

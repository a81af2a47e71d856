#pragma once
// Least privilege for a base on a PostgreSQL server.
//
// One owner role creates the base (torvane-createdb) and is the only one
// that changes its tables: the manager's upgrade after a new version runs
// under it.  Every PC logs in with a role of its own, member of one group
// that may read and write the rows (SELECT, INSERT, UPDATE, DELETE, and the
// auto-numbers' sequences) and nothing more: no PC can drop or alter a
// table.  A PC that opens a base needing an upgrade is told that the owner
// must open it once (EngineError::NoPermission).
//
// torvane-createdb --roles prints the set-up; the README walks through it.

#include <QString>
#include <QStringList>

namespace torvane::schema {

struct ServerRoles {
    QString database = QStringLiteral("torvane");
    QString schema = QStringLiteral("public");
    QString owner = QStringLiteral("torvane_dono");
    QString group = QStringLiteral("torvane_caixas");
    QStringList pcs = {QStringLiteral("caixa1"), QStringLiteral("caixa2")};
};

// Run in the base's database by its owner or the server's administrator,
// before or after the owner creates the base: the group may use the rows
// of every table the owner has made or will make, and nothing else.
QStringList serverGrants(const ServerRoles &roles);

// The whole set-up as the server's administrator runs it (roles, database,
// grants), with what to do with each part.
QString serverRolesScript(const ServerRoles &roles = {});

} // namespace torvane::schema

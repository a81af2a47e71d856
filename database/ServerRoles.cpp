#include "ServerRoles.h"

namespace torvane::schema {

QStringList serverGrants(const ServerRoles &r)
{
    const QString rows = QStringLiteral("SELECT, INSERT, UPDATE, DELETE");
    return {
        QStringLiteral("REVOKE ALL ON SCHEMA %1 FROM PUBLIC").arg(r.schema),
        QStringLiteral("GRANT USAGE ON SCHEMA %1 TO %2").arg(r.schema, r.group),
        // Tables the owner makes later (the base, an upgrade's new table).
        QStringLiteral("ALTER DEFAULT PRIVILEGES FOR ROLE %1 IN SCHEMA %2 GRANT %3 ON TABLES TO %4")
            .arg(r.owner, r.schema, rows, r.group),
        QStringLiteral("ALTER DEFAULT PRIVILEGES FOR ROLE %1 IN SCHEMA %2 GRANT USAGE ON SEQUENCES TO %3")
            .arg(r.owner, r.schema, r.group),
        // Tables made before this set-up.
        QStringLiteral("GRANT %1 ON ALL TABLES IN SCHEMA %2 TO %3").arg(rows, r.schema, r.group),
        QStringLiteral("GRANT USAGE ON ALL SEQUENCES IN SCHEMA %1 TO %2").arg(r.schema, r.group),
    };
}

QString serverRolesScript(const ServerRoles &r)
{
    QString s;
    s += QStringLiteral("-- Torvane on a PostgreSQL server: an owner that creates and upgrades the base,\n"
                        "-- and PCs that read and write its rows only.\n"
                        "--\n"
                        "-- Run as the server's administrator: sudo -u postgres psql -f this-file.sql\n"
                        "--\n"
                        "-- 1. The roles and the database:\n");
    s += QStringLiteral("CREATE ROLE %1 LOGIN;\n").arg(r.owner);
    s += QStringLiteral("CREATE ROLE %1 NOLOGIN;\n").arg(r.group);
    for (const QString &pc : r.pcs)
        s += QStringLiteral("CREATE ROLE %1 LOGIN IN ROLE %2;\n").arg(pc, r.group);
    s += QStringLiteral("-- a password for each login: \\password %1").arg(r.owner);
    for (const QString &pc : r.pcs)
        s += QStringLiteral(", \\password %1").arg(pc);
    s += QStringLiteral("\nCREATE DATABASE %1 OWNER %2 ENCODING 'UTF8' LOCALE 'C.UTF-8' TEMPLATE template0;\n")
             .arg(r.database, r.owner);
    s += QStringLiteral("REVOKE CONNECT ON DATABASE %1 FROM PUBLIC;\n").arg(r.database);
    s += QStringLiteral("GRANT CONNECT ON DATABASE %1 TO %2;\n").arg(r.database, r.group);
    s += QStringLiteral("--\n-- 2. In that database:\n\\connect %1\n").arg(r.database);
    for (const QString &grant : serverGrants(r))
        s += grant + QStringLiteral(";\n");
    s += QStringLiteral("--\n"
                        "-- 3. The owner creates the base once, in a folder whose vendabase.pgconn reads\n"
                        "--      host=SERVER dbname=%1 user=%2\n"
                        "--    with: torvane-createdb --slots 5000   (or: --copy-from vendabase.accdb)\n"
                        "--    and, after installing a new version, opens Torvane there once (the upgrade).\n"
                        "-- 4. Each PC's vendabase.pgconn names its own login, e.g.\n"
                        "--      host=SERVER dbname=%1 user=%3\n"
                        "--    and its password goes in that user's ~/.pgpass.\n")
             .arg(r.database, r.owner, r.pcs.value(0));
    return s;
}

} // namespace torvane::schema

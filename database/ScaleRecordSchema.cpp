#include "ScaleRecordSchema.h"

#include "Db.h"
#include "Engine.h"

#include <QSqlError>
#include <QSqlQuery>

namespace torvane::db {

const std::vector<SchemaStep> &scaleRecordSteps()
{
    static const std::vector<SchemaStep> steps = {
        {QStringLiteral("Select Scale From ScaleTransfer"),
         {QStringLiteral("Create Table ScaleTransfer ( Scale varchar(64) Primary Key, Complete bit,"
                         " StartedAt datetime, EndedAt datetime, Products int )")}},
        {QStringLiteral("Select Scale From ScaleAck"),
         {QStringLiteral("Create Table ScaleAck ( Scale varchar(64) Not Null, pluNo int Not Null,"
                         " Frame blob Not Null, AckedAt datetime, Primary Key (Scale, pluNo) )")}},
        {QStringLiteral("Select Port From ScaleTransfer"),
         {QStringLiteral("Alter Table ScaleTransfer Add Port varchar(255)")}},
    };
    return steps;
}

bool createScaleRecordTables(QSqlDatabase &db, QString *error)
{
    QSqlQuery q(db);
    for (const auto &step : scaleRecordSteps()) {
        for (const auto &sql : step.create) {
            if (!q.exec(mapAccessSql(db, sql))) {
                if (error)
                    *error = errorText(q.lastError());
                return false;
            }
        }
    }
    return true;
}

} // namespace torvane::db

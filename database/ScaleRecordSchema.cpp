#include "ScaleRecordSchema.h"

namespace torvane::db {

const std::vector<ScaleRecordTable> &scaleRecordSteps()
{
    static const std::vector<ScaleRecordTable> steps = {
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

} // namespace torvane::db

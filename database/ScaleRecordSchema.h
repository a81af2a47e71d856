#pragma once
// The per-scale record of what each scale acknowledged, kept in the shared
// file so the manager and every PC see the same record.
//
//   ScaleTransfer  one row per scale (by the name the shop gives it, or its
//                  port as one PC reaches it): whether its last transfer ended
//                  cleanly (Complete), when it started and ended, how many
//                  products it took, and the port it was last reached through
//                  (Port: the PC's name and the device, see ScaleRecord.h).
//   ScaleAck       one row per scale and slot: the 53-byte "DL" frame the
//                  scale acknowledged last for that slot, and when.
//
// A scale whose ScaleTransfer row is missing or not Complete may hold
// anything: the next transfer that sends only changes sends it everything.
// Both tables are added by the manager's upgrade and made with new bases.

#include <QSqlDatabase>
#include <QString>
#include <QStringList>

#include <vector>

namespace torvane::db {

struct ScaleRecordTable {
    QString probe;       // fails when the table is missing
    QStringList create;  // run in order when it does
};

// The tables, in order: each one's probe and creation (SchemaSteps.h runs
// them, for the upgrade and for new bases).
const std::vector<ScaleRecordTable> &scaleRecordSteps();

} // namespace torvane::db

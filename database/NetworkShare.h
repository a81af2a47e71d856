#pragma once
// A database file on a network share (NFS, SMB/CIFS, a FUSE network file
// system) is not safe: the locks SQLite relies on are unreliable there and
// two PCs can corrupt the file.  The manager warns at start and points to
// the server option (Engine.h).

#include <QString>

namespace torvane::db {

// The file system type of a folder as the kernel names it ("nfs", "cifs",
// "fuse.sshfs", ...), or empty when it is a local one.
QString networkFileSystemOf(const QString &folder);

// Pure part of the above: whether a statfs magic number, or a FUSE subtype
// from the mount table, is a network file system.
bool isNetworkMagic(unsigned long magic);
bool isNetworkFuseType(const QString &fsType);

// The operator's warning for a database file in that folder, or empty.
QString networkShareWarning(const QString &databasePath);

} // namespace torvane::db

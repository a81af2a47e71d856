#pragma once
// The whole torvane-transfer command, without the process around it: parse
// the arguments, check the database file, run the scales, write the output,
// return the exit status.  main() adds only the signal handling.

#include <QStringList>

#include <atomic>
#include <cstdio>

namespace torvane::transfer {

// terminal: standard output is a terminal (progress lines are drawn).
// stop: raised by Ctrl-C / SIGTERM; every transfer ends after its current
// product.
int RunTransferCommand(const QStringList &arguments, std::FILE *out, std::FILE *err, bool terminal,
                       const std::atomic<bool> *stop);

} // namespace torvane::transfer

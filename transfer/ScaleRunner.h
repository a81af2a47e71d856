#pragma once
// One scale's share of a torvane-transfer run: on its own thread and its own
// port, it runs the transmitter's job for the action (the same jobs the
// window's buttons run) and gathers what happened into a ScaleResult.
//
// The runner is the job's host.  It decides which products a download
// sends (all; those that differ from the scale's record, which the job
// keeps; or those a check found different) and names the scale's records
// (NAME when given, otherwise the port).  It tells the job's end apart by
// the outcome the job returns.

#include "CommandLine.h"
#include "JobHost.h"
#include "ScaleCompare.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <vector>

namespace torvane::transfer {

enum class Outcome { Done, Differs, PortFailed, NoAnswer, Interrupted, DatabaseError };

int ExitCodeOf(Outcome outcome);
QString OutcomeKey(Outcome outcome); // "done", "differs", ... for scripts

struct ScaleResult {
    ScaleTarget scale;
    Action action = Action::Send;
    Outcome outcome = Outcome::Done;
    int total = 0;       // products to send / slots or records expected (0: unknown)
    int count = 0;       // products acknowledged / slots or records stored
    int failedPluNo = -1; // download: the product the scale did not acknowledge;
                          // sales: the product sold that was not read from the scale
    bool everything = true; // download: the whole table (not only changes)
    bool recorded = true;   // download: the scale's record was kept; sales: the
                            // sales read were keyed (false: the database has
                            // not been upgraded to hold either yet)
    int newSales = 0;       // sales: records stored as new sales
    int knownSales = 0;     // sales: records dropped as read before
    QString cause;       // what went wrong, in the operator's words (empty when done)
    QString detail;      // the job's boxes and last status text, for support
    std::vector<torvane::transmitter::SlotComparison> differences; // check
};

// Progress of one scale, for the terminal's progress lines.
using ProgressSink = std::function<void(const ScaleTarget &scale, int pos, int maximum)>;

struct RunSettings {
    Command command;
    QString databasePath;             // resolved file
    const std::atomic<bool> *stop = nullptr; // Ctrl-C / SIGTERM
    ProgressSink progress;
};

// Runs every scale of the command in parallel, one thread each, and returns
// their results in the order of the command line.
std::vector<ScaleResult> RunScales(const RunSettings &settings);

// The command's exit status: the highest among the scales.
int ExitCodeOf(const std::vector<ScaleResult> &results);

} // namespace torvane::transfer

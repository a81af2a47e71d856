#pragma once
// What torvane-transfer writes: on a terminal, one progress line per scale
// redrawn in place while the transfers run; otherwise (a pipe, the journal)
// nothing until each scale ends.  Then one line per scale (and, for check,
// one per differing slot), or with --json a single JSON document for
// scripts, also when the command reaches no scale at all.  Progress may be reported from several threads at once.

#include "ScaleRunner.h"

#include <QString>

#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>

namespace torvane::transfer {

class TransferOutput {
public:
    TransferOutput(std::FILE *out, bool terminal, bool json);

    void begin(const Command &command);
    void progress(const ScaleTarget &scale, int pos, int maximum);
    // The end: the summary lines or the JSON document.
    void finish(const Command &command, const std::vector<ScaleResult> &results, int exitCode);

    // The lines / document alone (tests).
    static QStringList SummaryLines(const std::vector<ScaleResult> &results);
    static QByteArray Json(const Command &command, const std::vector<ScaleResult> &results, int exitCode);
    // The document of a command that reached no scale (a bad command line, a
    // database that is not there): its exit status and why, and no scales.
    // command: null when the command line was not understood.
    static QByteArray FailureJson(const Command *command, int exitCode, const QString &error);

private:
    void redraw(bool force);

    std::FILE *m_out;
    bool m_terminal;
    bool m_json;
    std::mutex m_mutex;
    std::vector<QString> m_order;
    std::map<QString, std::pair<int, int>> m_progress;
    bool m_drawn = false;
    std::chrono::steady_clock::time_point m_lastDraw{};
};

} // namespace torvane::transfer

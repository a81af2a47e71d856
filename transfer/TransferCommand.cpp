#include "TransferCommand.h"

#include "CommandLine.h"
#include "DataSource.h"
#include "Db.h"
#include "Engine.h"
#include "ScaleRunner.h"
#include "TransferOutput.h"

#include <QDir>
#include <QFileInfo>

namespace torvane::transfer {

int RunTransferCommand(const QStringList &arguments, std::FILE *out, std::FILE *err, bool terminal,
                       const std::atomic<bool> *stop)
{
    const ParseResult parsed = ParseCommandLine(arguments);
    if (parsed.command.help) {
        std::fputs(UsageText().toUtf8().constData(), out);
        return ExitOk;
    }
    // A script that asked for JSON gets one document, whatever happens.
    const bool json = parsed.command.json || arguments.contains(QLatin1String("--json"));
    if (!parsed.error.isEmpty()) {
        std::fprintf(err, "torvane-transfer: %s\n%s", parsed.error.toUtf8().constData(),
                     "Use --help para ver as ações e as opções.\n");
        if (json)
            std::fputs(TransferOutput::FailureJson(nullptr, ExitUsage, parsed.error).constData(), out);
        return ExitUsage;
    }
    const Command &command = parsed.command;

    const QString path = QFileInfo(command.database.isEmpty() ? QString::fromLatin1(db::kDatabaseFileName)
                                                              : command.database)
                             .absoluteFilePath();
    // A shop on a server keeps only the connection file beside the path.
    const db::FileKind kind = db::serverFileFor(path).isEmpty() ? db::probeFile(path) : db::FileKind::SQLite;
    if (kind != db::FileKind::SQLite) {
        const QString problem = db::describeProblem(kind, path);
        std::fprintf(err, "torvane-transfer: %s\n", problem.toUtf8().constData());
        if (json)
            std::fputs(TransferOutput::FailureJson(&command, ExitDatabase, problem).constData(), out);
        return ExitDatabase;
    }
    transmitter::SetDatabaseFileOverride(path);

    TransferOutput output(out, terminal, command.json);
    RunSettings settings;
    settings.command = command;
    settings.databasePath = path;
    settings.stop = stop;
    settings.progress = [&output](const ScaleTarget &scale, int pos, int maximum) {
        output.progress(scale, pos, maximum);
    };
    output.begin(command);
    const std::vector<ScaleResult> results = RunScales(settings);
    const int code = ExitCodeOf(results);
    output.finish(command, results, code);
    transmitter::SetDatabaseFileOverride(QString());
    return code;
}

} // namespace torvane::transfer

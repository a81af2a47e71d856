#include "TransferOutput.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace torvane::transfer {

namespace tx = torvane::transmitter;

namespace {

QJsonObject productJson(const tx::CompareProduct &p)
{
    return QJsonObject{{QStringLiteral("pluCode"), p.pluCode},   {QStringLiteral("pluDesc"), p.pluDesc},
                       {QStringLiteral("unitPrice"), p.unitPrice}, {QStringLiteral("tareWeight"), p.tareWeight},
                       {QStringLiteral("validDays"), p.validDays}, {QStringLiteral("sellFlag"), p.sellFlag},
                       {QStringLiteral("preFix"), p.preFix}};
}

// "preço: base 1000, balança 990" for each field that differs.
QString differenceLine(const tx::SlotComparison &d)
{
    if (d.differences & (tx::DiffMissingOnScale | tx::DiffFreeInBase))
        return tx::DifferenceNames(d.differences).join(QStringLiteral(", "));
    QStringList parts;
    const auto &b = *d.base;
    const auto &s = *d.scale;
    auto quoted = [](const QString &t) { return u'"' + t + u'"'; };
    auto add = [&](unsigned flag, const QString &base, const QString &scale) {
        if (d.differences & flag)
            parts << QStringLiteral("%1: base %2, balança %3").arg(tx::DifferenceNames(flag).value(0), base, scale);
    };
    add(tx::DiffCode, quoted(b.pluCode), quoted(s.pluCode));
    add(tx::DiffDescription, quoted(b.pluDesc), quoted(s.pluDesc));
    add(tx::DiffPrice, QString::number(b.unitPrice), QString::number(s.unitPrice));
    add(tx::DiffTare, QString::number(b.tareWeight), QString::number(s.tareWeight));
    add(tx::DiffShelfLife, QString::number(b.validDays), QString::number(s.validDays));
    add(tx::DiffSaleType, QString::number(b.sellFlag), QString::number(s.sellFlag));
    add(tx::DiffPrefix, QString::number(b.preFix), QString::number(s.preFix));
    return parts.join(QStringLiteral("; "));
}

// ": cause" after a line, when there is one.
QString withCause(const QString &line, const QString &cause)
{
    const QString c = QString(cause).replace(u'\n', u' ').trimmed();
    return c.isEmpty() ? line : line + QStringLiteral(": ") + c;
}

QString sendLine(const ScaleResult &r)
{
    const QString what = r.everything ? QStringLiteral("todos os produtos") : QStringLiteral("só os alterados");
    // Without the record every send goes whole; the manager's upgrade adds it.
    const QString unrecorded = r.recorded ? QString()
                                          : QStringLiteral("; sem registro do que a balança recebeu: abra o Torvane"
                                                           " uma vez para atualizar o banco de dados");
    switch (r.outcome) {
    case Outcome::Done:
        return QStringLiteral("%1 produto(s) enviado(s) e confirmado(s) (%2)").arg(r.count).arg(what) + unrecorded;
    case Outcome::NoAnswer:
        return withCause(QStringLiteral("a transmissão parou no produto PLU %1; %2 de %3 confirmado(s)")
                             .arg(r.failedPluNo)
                             .arg(r.count)
                             .arg(r.total),
                         r.cause);
    case Outcome::Interrupted:
        return QStringLiteral("interrompido; %1 de %2 produto(s) confirmado(s)").arg(r.count).arg(r.total);
    case Outcome::DatabaseError:
        // The database failed after products went out (a server lost at
        // the end): what the scale received is what the operator needs.
        if (r.count > 0)
            return withCause(QStringLiteral("%1 de %2 produto(s) enviado(s) e confirmado(s) pela balança, mas o"
                                            " registro do que ela recebeu não foi gravado")
                                 .arg(r.count)
                                 .arg(r.total),
                             r.cause);
        return {};
    default:
        return {};
    }
}

} // namespace

TransferOutput::TransferOutput(std::FILE *out, bool terminal, bool json) : m_out(out), m_terminal(terminal), m_json(json)
{
}

void TransferOutput::begin(const Command &command)
{
    std::lock_guard lock(m_mutex);
    for (const auto &s : command.scales) {
        m_order.push_back(s.name);
        m_progress[s.name] = {0, 0};
    }
    redraw(true);
}

void TransferOutput::progress(const ScaleTarget &scale, int pos, int maximum)
{
    std::lock_guard lock(m_mutex);
    m_progress[scale.name] = {pos, maximum};
    redraw(pos == maximum);
}

void TransferOutput::redraw(bool force)
{
    if (!m_terminal || m_json || m_order.empty())
        return;
    const auto now = std::chrono::steady_clock::now();
    if (!force && now - m_lastDraw < std::chrono::milliseconds(100))
        return;
    m_lastDraw = now;
    QString text;
    if (m_drawn)
        text += QStringLiteral("\x1b[%1A").arg(m_order.size());
    for (const QString &name : m_order) {
        const auto [pos, max] = m_progress[name];
        constexpr int kWidth = 30;
        const int filled = max > 0 ? std::min(kWidth, pos * kWidth / max) : 0;
        text += QStringLiteral("\r\x1b[2K%1 [%2%3] %4/%5\n")
                    .arg(name, -12)
                    .arg(QString(filled, u'#'), QString(kWidth - filled, u' '))
                    .arg(pos)
                    .arg(max);
    }
    m_drawn = true;
    std::fputs(text.toUtf8().constData(), m_out);
    std::fflush(m_out);
}

QStringList TransferOutput::SummaryLines(const std::vector<ScaleResult> &results)
{
    QStringList lines;
    for (const auto &r : results) {
        const QString &name = r.scale.name;
        QString line;
        switch (r.outcome) {
        case Outcome::PortFailed:
            line = withCause(QStringLiteral("não foi possível abrir a porta %1").arg(r.scale.port), r.cause);
            break;
        case Outcome::DatabaseError:
            if (r.action == Action::Send)
                line = sendLine(r);
            // A sale of a product not read from the scale: a stopped read
            // (with what it stored), not a failing database.
            if (line.isEmpty() && !(r.action == Action::Sales && r.failedPluNo >= 0))
                line = QStringLiteral("erro no banco de dados: %1").arg(QString(r.cause).replace(u'\n', u' '));
            break;
        default:
            break;
        }
        if (line.isEmpty()) {
            switch (r.action) {
            case Action::Send:
                line = sendLine(r);
                break;
            case Action::Products:
            case Action::Sales: {
                const QString what = r.action == Action::Products ? QStringLiteral("produto(s) lido(s) para PLU_UPLOADED")
                                                                  : QStringLiteral("venda(s) lida(s) para RECORD");
                if (r.outcome == Outcome::Done)
                    line = QStringLiteral("%1 %2").arg(r.count).arg(what);
                else if (r.outcome == Outcome::Interrupted)
                    line = QStringLiteral("interrompido; %1 %2").arg(r.count).arg(what);
                else
                    line = withCause(QStringLiteral("a leitura parou; %1 %2").arg(r.count).arg(what), r.cause);
                if (r.action == Action::Sales && r.recorded)
                    line += QStringLiteral(" (%1 nova(s), %2 já lida(s) antes)").arg(r.newSales).arg(r.knownSales);
                else if (r.action == Action::Sales)
                    // Without the key every read stores the scale's sales again.
                    line += QStringLiteral("; sem identificação das vendas, uma nova leitura as grava de novo:"
                                           " abra o Torvane uma vez para atualizar o banco de dados");
                break;
            }
            case Action::Check:
                for (const auto &d : r.differences)
                    lines << QStringLiteral("%1: PLU %2: %3").arg(name).arg(d.pluNo).arg(differenceLine(d));
                if (r.outcome == Outcome::NoAnswer && r.failedPluNo >= 0)
                    line = withCause(QStringLiteral("o envio parou no produto PLU %1").arg(r.failedPluNo), r.cause);
                else if (r.outcome == Outcome::NoAnswer)
                    line = withCause(QStringLiteral("a leitura parou"), r.cause);
                else if (r.outcome == Outcome::Interrupted)
                    line = QStringLiteral("interrompido");
                else if (r.differences.empty())
                    line = QStringLiteral("igual à base");
                else if (r.total > 0)
                    line = QStringLiteral("%1 PLU diferente(s); %2 enviado(s) e confirmado(s)")
                               .arg(r.differences.size())
                               .arg(r.count);
                else
                    line = QStringLiteral("%1 PLU diferente(s)").arg(r.differences.size());
                break;
            }
        }
        lines << QStringLiteral("%1: %2").arg(name, line);
    }
    return lines;
}

QByteArray TransferOutput::Json(const Command &command, const std::vector<ScaleResult> &results, int exitCode)
{
    QJsonArray scales;
    for (const auto &r : results) {
        QJsonObject o{{QStringLiteral("name"), r.scale.name},
                      {QStringLiteral("port"), r.scale.port},
                      {QStringLiteral("outcome"), OutcomeKey(r.outcome)},
                      {QStringLiteral("exitCode"), ExitCodeOf(r.outcome)},
                      {QStringLiteral("count"), r.count},
                      {QStringLiteral("total"), r.total}};
        if (r.action == Action::Send || (r.action == Action::Check && command.sendDifferences)) {
            o.insert(QStringLiteral("everything"), r.everything);
            o.insert(QStringLiteral("recorded"), r.recorded);
            o.insert(QStringLiteral("failedPluNo"), r.failedPluNo >= 0 ? QJsonValue(r.failedPluNo) : QJsonValue());
        }
        if (r.action == Action::Sales) {
            o.insert(QStringLiteral("recorded"), r.recorded);
            o.insert(QStringLiteral("new"), r.newSales);
            o.insert(QStringLiteral("known"), r.knownSales);
        }
        if (r.action == Action::Check) {
            QJsonArray diffs;
            for (const auto &d : r.differences) {
                QJsonObject x{{QStringLiteral("pluNo"), d.pluNo},
                              {QStringLiteral("differences"), QJsonArray::fromStringList(tx::DifferenceKeys(d.differences))}};
                if (d.base)
                    x.insert(QStringLiteral("base"), productJson(*d.base));
                if (d.scale)
                    x.insert(QStringLiteral("scale"), productJson(*d.scale));
                diffs.append(x);
            }
            o.insert(QStringLiteral("differences"), diffs);
        }
        if (!r.cause.isEmpty())
            o.insert(QStringLiteral("cause"), r.cause);
        if (!r.detail.isEmpty())
            o.insert(QStringLiteral("detail"), r.detail);
        scales.append(o);
    }
    QJsonObject doc{{QStringLiteral("action"), ActionName(command.action)},
                    {QStringLiteral("changedOnly"), command.changedOnly},
                    {QStringLiteral("exitCode"), exitCode},
                    {QStringLiteral("scales"), scales}};
    return QJsonDocument(doc).toJson(QJsonDocument::Indented);
}

QByteArray TransferOutput::FailureJson(const Command *command, int exitCode, const QString &error)
{
    QJsonObject doc{{QStringLiteral("action"), command ? QJsonValue(ActionName(command->action)) : QJsonValue()},
                    {QStringLiteral("exitCode"), exitCode},
                    {QStringLiteral("error"), error},
                    {QStringLiteral("scales"), QJsonArray()}};
    if (command)
        doc.insert(QStringLiteral("changedOnly"), command->changedOnly);
    return QJsonDocument(doc).toJson(QJsonDocument::Indented);
}

void TransferOutput::finish(const Command &command, const std::vector<ScaleResult> &results, int exitCode)
{
    std::lock_guard lock(m_mutex);
    if (m_json) {
        std::fputs(Json(command, results, exitCode).constData(), m_out);
    } else {
        redraw(true);
        for (const QString &line : SummaryLines(results))
            std::fprintf(m_out, "%s\n", line.toUtf8().constData());
    }
    std::fflush(m_out);
}

} // namespace torvane::transfer

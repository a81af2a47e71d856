#include "CommandLine.h"

#include "NetAddress.h"

#include <QSet>

namespace torvane::transfer {

QString ActionName(Action action)
{
    switch (action) {
    case Action::Send: return QStringLiteral("send");
    case Action::Products: return QStringLiteral("products");
    case Action::Sales: return QStringLiteral("sales");
    case Action::Check: return QStringLiteral("check");
    }
    return {};
}

QString UsageText()
{
    return QStringLiteral(
        "Uso: torvane-transfer AÇÃO --port [NOME=]PORTA [--port ...] [opções]\n"
        "\n"
        "Ações:\n"
        "  send               envia todos os produtos a cada balança\n"
        "  send --changed     envia só os produtos que mudaram desde o que a balança\n"
        "                     confirmou por último (tudo, se o registro não é seguro)\n"
        "  products           lê os produtos da balança para PLU_UPLOADED (uma balança)\n"
        "  sales              lê as vendas da balança para RECORD\n"
        "  check              lê os produtos da balança e mostra, por PLU, o que difere\n"
        "                     da base (sem gravar na base)\n"
        "  check --send       e envia os produtos que diferem\n"
        "\n"
        "Opções:\n"
        "  --port [NOME=]PORTA  COM1..COM9, caminho do dispositivo, ou uma balança na\n"
        "                     rede: tcp://ENDEREÇO:PORTA (servidor serial em TCP puro,\n"
        "                     ajustado por ele mesmo para 57600 8N1) ou\n"
        "                     rfc2217://ENDEREÇO:PORTA (o programa ajusta a linha);\n"
        "                     IPv6 entre colchetes.  NOME identifica a balança na\n"
        "                     saída e no registro (padrão: a porta).\n"
        "                     Várias --port trabalham em paralelo.\n"
        "  --database ARQUIVO   banco de dados (padrão: vendabase.accdb na pasta atual)\n"
        "  --json             resultado em JSON na saída padrão (sempre um documento,\n"
        "                     também para um erro na linha de comando)\n"
        "  --help             esta ajuda\n"
        "\n"
        "Códigos de saída (com várias balanças, o maior entre elas):\n"
        "  0  tudo feito (check: nada difere)\n"
        "  1  check: algum produto difere\n"
        "  2  linha de comando inválida\n"
        "  3  uma porta não pôde ser aberta (ou não aceitou 57600 8N1)\n"
        "  4  a transferência com uma balança parou (sem resposta, resposta errada ou\n"
        "     repetida, ou falha da porta no caminho)\n"
        "  5  interrompido (Ctrl-C ou SIGTERM) antes do fim\n"
        "  6  erro no banco de dados (também somente leitura, exceto para check)\n");
}

ParseResult ParseCommandLine(const QStringList &arguments)
{
    ParseResult r;
    Command &c = r.command;
    auto fail = [&](const QString &text) {
        r.error = text;
        return r;
    };
    bool haveAction = false;
    QSet<QString> names;
    QSet<QString> ports;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString &a = arguments[i];
        auto value = [&](QString *out) {
            const qsizetype eq = a.indexOf(u'=');
            if (a.startsWith(QLatin1String("--")) && eq > 0) {
                *out = a.mid(eq + 1);
                return true;
            }
            if (i + 1 >= arguments.size())
                return false;
            *out = arguments[++i];
            return true;
        };
        const QString key = a.section(u'=', 0, 0);
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            c.help = true;
        } else if (a == QLatin1String("--json")) {
            c.json = true;
        } else if (a == QLatin1String("--changed")) {
            c.changedOnly = true;
        } else if (a == QLatin1String("--send")) {
            c.sendDifferences = true;
        } else if (key == QLatin1String("--database")) {
            if (!value(&c.database) || c.database.isEmpty())
                return fail(QStringLiteral("--database pede o arquivo do banco de dados"));
        } else if (key == QLatin1String("--port")) {
            QString portArg;
            if (!value(&portArg) || portArg.isEmpty())
                return fail(QStringLiteral("--port pede uma porta (COM1..COM9, um dispositivo ou tcp://ENDEREÇO:PORTA)"));
            ScaleTarget t;
            const qsizetype eq = portArg.indexOf(u'=');
            t.port = eq >= 0 ? portArg.mid(eq + 1) : portArg;
            t.name = eq >= 0 ? portArg.left(eq) : portArg;
            if (t.port.isEmpty() || t.name.isEmpty())
                return fail(QStringLiteral("--port %1: falta o nome ou a porta").arg(portArg));
            // A scale on the network: the same device server under any
            // spelling of its scheme or name case is one port.
            QString portKey = t.port;
            if (scalelink::IsNetworkPortName(t.port)) {
                scalelink::NetAddress address;
                QString why;
                if (!scalelink::ParseNetAddress(t.port, &address, &why))
                    return fail(QStringLiteral("--port %1: %2").arg(portArg, why));
                t.port = address.text();
                portKey = address.lockKey();
            }
            if (names.contains(t.name) || ports.contains(portKey))
                return fail(QStringLiteral("--port %1: balança ou porta repetida").arg(portArg));
            names.insert(t.name);
            ports.insert(portKey);
            c.scales.push_back(t);
        } else if (a.startsWith(u'-')) {
            return fail(QStringLiteral("opção desconhecida: %1").arg(a));
        } else if (!haveAction) {
            haveAction = true;
            if (a == QLatin1String("send"))
                c.action = Action::Send;
            else if (a == QLatin1String("products"))
                c.action = Action::Products;
            else if (a == QLatin1String("sales"))
                c.action = Action::Sales;
            else if (a == QLatin1String("check"))
                c.action = Action::Check;
            else
                return fail(QStringLiteral("ação desconhecida: %1").arg(a));
        } else {
            return fail(QStringLiteral("argumento a mais: %1").arg(a));
        }
    }
    if (c.help)
        return r;
    if (!haveAction)
        return fail(QStringLiteral("falta a ação (send, products, sales ou check)"));
    if (c.scales.empty())
        return fail(QStringLiteral("falta --port"));
    if (c.changedOnly && c.action != Action::Send)
        return fail(QStringLiteral("--changed vale só para send"));
    if (c.sendDifferences && c.action != Action::Check)
        return fail(QStringLiteral("--send vale só para check"));
    // PLU_UPLOADED holds the products of one scale.
    if (c.action == Action::Products && c.scales.size() > 1)
        return fail(QStringLiteral("products lê uma balança por vez (PLU_UPLOADED guarda os produtos de uma só)"));
    return r;
}

} // namespace torvane::transfer

#include "NetAddress.h"

#include <algorithm>

namespace torvane::scalelink {

namespace {

constexpr const char *kTcp = "tcp://";
constexpr const char *kRfc2217 = "rfc2217://";

bool hostNameChar(QChar c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'-'
           || c == u'.' || c == u'_';
}

bool ipv6Char(QChar c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F') || c == u':'
           || c == u'.' || c == u'%';
}

} // namespace

QString NetAddress::text() const
{
    const QString h = host.contains(u':') ? QStringLiteral("[%1]").arg(host) : host;
    return QStringLiteral("%1%2:%3")
        .arg(QLatin1String(scheme == NetScheme::Tcp ? kTcp : kRfc2217), h.toLower())
        .arg(port);
}

QString NetAddress::lockKey() const
{
    QString key = host.toLower();
    key.replace(u':', u'-').replace(u'%', u'-');
    return QStringLiteral("%1_%2").arg(key).arg(port);
}

bool IsNetworkPortName(const QString &name)
{
    return name.startsWith(QLatin1String(kTcp), Qt::CaseInsensitive)
           || name.startsWith(QLatin1String(kRfc2217), Qt::CaseInsensitive);
}

bool ParseNetAddress(const QString &name, NetAddress *address, QString *error)
{
    auto fail = [&](const QString &why) {
        if (error)
            *error = QStringLiteral("O endereço \"%1\" não serve: %2.\nEscreva tcp://ENDEREÇO:PORTA ou "
                                    "rfc2217://ENDEREÇO:PORTA, por exemplo tcp://192.168.0.50:4001 (um "
                                    "endereço IPv6 vai entre colchetes: tcp://[fd00::50]:4001).")
                         .arg(name, why);
        return false;
    };
    NetAddress a;
    QString rest;
    if (name.startsWith(QLatin1String(kTcp), Qt::CaseInsensitive)) {
        rest = name.mid(int(qstrlen(kTcp)));
    } else if (name.startsWith(QLatin1String(kRfc2217), Qt::CaseInsensitive)) {
        a.scheme = NetScheme::Rfc2217;
        rest = name.mid(int(qstrlen(kRfc2217)));
    } else {
        return fail(QStringLiteral("ele não começa com tcp:// nem rfc2217://"));
    }
    qsizetype colon = -1;
    if (rest.startsWith(u'[')) {
        const qsizetype close = rest.indexOf(u']');
        if (close < 0)
            return fail(QStringLiteral("falta o \"]\" depois do endereço IPv6"));
        a.host = rest.mid(1, close - 1);
        if (a.host.isEmpty() || !a.host.contains(u':')
            || !std::all_of(a.host.cbegin(), a.host.cend(), ipv6Char))
            return fail(QStringLiteral("entre colchetes vai um endereço IPv6"));
        if (close + 1 >= rest.size() || rest.at(close + 1) != u':')
            return fail(QStringLiteral("falta a porta TCP depois do endereço (\":4001\", por exemplo)"));
        colon = close + 1;
    } else {
        colon = rest.lastIndexOf(u':');
        if (colon < 0)
            return fail(QStringLiteral("falta a porta TCP depois do endereço (\":4001\", por exemplo)"));
        a.host = rest.left(colon);
        if (a.host.contains(u':'))
            return fail(QStringLiteral("um endereço IPv6 vai entre colchetes"));
        if (a.host.isEmpty())
            return fail(QStringLiteral("falta o endereço antes da porta"));
        if (!std::all_of(a.host.cbegin(), a.host.cend(), hostNameChar))
            return fail(QStringLiteral("o nome tem caracteres que um endereço de rede não tem"));
    }
    const QString portText = rest.mid(colon + 1);
    bool ok = !portText.isEmpty() && std::all_of(portText.cbegin(), portText.cend(), [](QChar c) {
        return c >= u'0' && c <= u'9';
    });
    const uint port = ok ? portText.toUInt(&ok) : 0;
    if (!ok || port < 1 || port > 65535)
        return fail(QStringLiteral("a porta TCP é um número de 1 a 65535"));
    a.port = static_cast<uint16_t>(port);
    if (address)
        *address = a;
    return true;
}

} // namespace torvane::scalelink

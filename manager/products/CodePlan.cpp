#include "CodePlan.h"

#include "ProductRules.h"
#include "Schema.h"

#include <QStringList>

#include <algorithm>
#include <utility>

namespace torvane::manager {

CodePlan::CodePlan(QVector<StoredCode> rows, CodeSettings settings)
    : m_rows(std::move(rows)), m_settings(settings), m_saved(m_rows.size(), false)
{
    m_newCodigo.reserve(m_rows.size());
    m_newPluCode.reserve(m_rows.size());
    for (const StoredCode &r : m_rows) {
        m_newCodigo << r.codigo;
        m_newPluCode << r.pluCode;
    }
}

void CodePlan::save(int row, const QVariant &codigo, qint64 prefixb)
{
    m_saved[row] = true;
    m_newCodigo[row] = codigo;
    // As the save procedure does: a size outside 4 to 6 keeps the stored code.
    const QString built = schema::buildPluCode(codigo.toLongLong(), prefixb, m_settings.codeSize, m_settings.prefix2);
    m_newPluCode[row] = built.isNull() ? m_rows[row].pluCode : built;
}

void CodePlan::save(int row)
{
    save(row, m_rows[row].codigo, m_rows[row].prefixb);
}

// The file's unique index, like the server's constraint, covers the rows
// whose code is not 0 (a null code is no code either).
bool CodePlan::inIndexBefore(int row) const
{
    const QVariant &c = m_rows[row].codigo;
    return !c.isNull() && c.toLongLong() != 0 && !m_rows[row].pluCode.isNull();
}

bool CodePlan::inIndexAfter(int row) const
{
    const QVariant &c = m_newCodigo[row];
    return !c.isNull() && c.toLongLong() != 0 && !m_newPluCode[row].isNull();
}

bool CodePlan::check()
{
    m_collisions.clear();
    m_order.clear();
    m_parked.clear();
    QHash<QString, QVector<int>> byCode;
    byCode.reserve(m_rows.size());
    for (int r = 0; r < m_rows.size(); ++r)
        if (inIndexAfter(r))
            byCode[m_newPluCode[r]] << r;

    QVector<QVector<int>> groups;
    for (auto it = byCode.cbegin(); it != byCode.cend(); ++it) {
        const QVector<int> &group = it.value();
        if (group.size() < 2)
            continue;
        bool changed = false, sharedBefore = true;
        for (int r : group) {
            changed = changed || m_saved[r];
            sharedBefore = sharedBefore && inIndexBefore(r) && m_rows[r].pluCode == it.key();
        }
        if (changed && !sharedBefore)
            groups << group;
    }
    // Side by side, in the order of the rows.
    std::sort(groups.begin(), groups.end(), [](const QVector<int> &a, const QVector<int> &b) { return a[0] < b[0]; });
    for (const QVector<int> &group : groups)
        for (int r : group)
            m_collisions << Collision{r, m_newPluCode[r], false};
    for (int r = 0; r < m_rows.size(); ++r) {
        const QVariant &before = m_rows[r].codigo;
        if (m_refuseZero && m_saved[r] && !m_newCodigo[r].isNull() && m_newCodigo[r].toLongLong() == 0
            && (before.isNull() || before.toLongLong() != 0) && rules::isProduct(m_rows[r].pluDesc, m_rows[r].preco))
            m_collisions << Collision{r, m_newPluCode[r], true};
    }
    if (!m_collisions.isEmpty())
        return false;
    orderSaves();
    return true;
}

void CodePlan::orderSaves()
{
    // Who holds each code now.
    QHash<QString, QVector<int>> holders;
    holders.reserve(m_rows.size());
    for (int r = 0; r < m_rows.size(); ++r)
        if (inIndexBefore(r))
            holders[m_rows[r].pluCode] << r;
    // The rows a saved row must wait for: those that hold the code it takes
    // and give it up in this change.
    auto waitsFor = [&](int r) {
        QVector<int> out;
        if (!inIndexAfter(r) || (inIndexBefore(r) && m_rows[r].pluCode == m_newPluCode[r]))
            return out;
        for (int s : holders.value(m_newPluCode[r]))
            if (s != r && m_saved[s] && (!inIndexAfter(s) || m_newPluCode[s] != m_newPluCode[r]))
                out << s;
        return out;
    };

    enum : char { Unseen, Open, Done };
    QVector<char> state(m_rows.size(), Unseen);
    QVector<bool> parked(m_rows.size(), false);
    struct Frame {
        int row;
        QVector<int> waits;
        int next = 0;
    };
    QVector<Frame> stack;
    for (int start = 0; start < m_rows.size(); ++start) {
        if (!m_saved[start] || state[start] != Unseen)
            continue;
        state[start] = Open;
        stack.push_back({start, waitsFor(start)});
        while (!stack.isEmpty()) {
            Frame &top = stack.last();
            if (top.next < top.waits.size()) {
                const int s = top.waits[top.next++];
                if (state[s] == Unseen) {
                    state[s] = Open;
                    stack.push_back({s, waitsFor(s)});
                } else if (state[s] == Open && !parked[s]) {
                    // A ring: s gives its code up first, as a free slot.
                    parked[s] = true;
                    m_parked << s;
                }
                continue;
            }
            state[top.row] = Done;
            m_order << top.row;
            stack.removeLast();
        }
    }
}

QString CodePlan::refusal(const QString &notDone) const
{
    QStringList lines;
    lines << QStringLiteral("%1: com a alteração, os produtos abaixo ficariam com o mesmo código ou sem código. "
                            "Nenhum produto foi modificado; altere os códigos destes produtos e tente de novo.")
                 .arg(notDone)
          << QString();
    for (const Collision &c : m_collisions) {
        const StoredCode &r = m_rows[c.row];
        const QString desc = r.pluDesc.trimmed().isEmpty() ? QStringLiteral("sem descrição") : r.pluDesc.trimmed();
        const QString code = r.codigo.isNull() ? QStringLiteral("Código nas barras %1").arg(r.pluCode)
                                               : QStringLiteral("Código %1").arg(r.codigo.toLongLong());
        const QVariant &newCode = m_newCodigo[c.row];
        if (c.freed)
            lines << QStringLiteral("%1 (%2) passaria a 0: o produto ficaria sem código").arg(code, desc);
        else if (!m_saved[c.row])
            lines << QStringLiteral("%1 (%2): código nas barras %3").arg(code, desc, r.pluCode);
        else if (r.codigo.isNull() || newCode.toLongLong() != r.codigo.toLongLong())
            lines << QStringLiteral("%1 (%2) passaria a %3 (código nas barras %4)")
                         .arg(code, desc)
                         .arg(newCode.toLongLong())
                         .arg(c.newPluCode);
        else
            lines << QStringLiteral("%1 (%2): o código nas barras passaria de %3 a %4")
                         .arg(code, desc, r.pluCode, c.newPluCode);
    }
    return lines.join(u'\n');
}

} // namespace torvane::manager

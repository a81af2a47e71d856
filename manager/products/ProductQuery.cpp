#include "ProductQuery.h"

#include "Db.h"
#include "Engine.h"
#include "ServerBatch.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QHash>
#include <QSet>
#include <QSqlRecord>

#include <algorithm>

namespace torvane::manager {

namespace {

bool sameValue(const QVariant &a, const QVariant &b)
{
    if (a.isNull() || b.isNull())
        return a.isNull() == b.isNull();
    if (a.typeId() == b.typeId())
        return a == b;
    // Numbers loaded from the file and numbers typed compare by value.
    bool okA = false, okB = false;
    const double da = a.toDouble(&okA);
    const double db = b.toDouble(&okB);
    if (okA && okB && a.typeId() != QMetaType::QString && b.typeId() != QMetaType::QString)
        return da == db;
    return a.toString() == b.toString();
}

// The names operators know the product columns by.
QString columnLabel(const QString &column)
{
    static const QHash<QString, QString> labels{
        {QStringLiteral("codigo"), QStringLiteral("Código")},
        {QStringLiteral("plucode"), QStringLiteral("Código na balança")},
        {QStringLiteral("pludesc"), QStringLiteral("Descrição")},
        {QStringLiteral("preco"), QStringLiteral("Preço")},
        {QStringLiteral("unitprice"), QStringLiteral("Preço na balança")},
        {QStringLiteral("tara"), QStringLiteral("Tara")},
        {QStringLiteral("tareweight"), QStringLiteral("Tara na balança")},
        {QStringLiteral("validdays"), QStringLiteral("Validade")},
        {QStringLiteral("sellflag"), QStringLiteral("Tipo de venda")},
        {QStringLiteral("prefix"), QStringLiteral("Prefixo 1")},
        {QStringLiteral("prefixb"), QStringLiteral("Prefixo 2")},
        {QStringLiteral("setor"), QStringLiteral("Setor")},
        {QStringLiteral("barcodemode"), QStringLiteral("Código de barras")},
    };
    return labels.value(column.toLower(), column);
}

QString shownValue(const QString &column, const QVariant &v)
{
    if (v.isNull() || v.toString().isEmpty())
        return QStringLiteral("vazio");
    if (v.typeId() == QMetaType::Double || column.compare(QLatin1String("preco"), Qt::CaseInsensitive) == 0)
        return QString::number(v.toDouble(), 'f', column.compare(QLatin1String("tara"), Qt::CaseInsensitive) == 0 ? 3 : 2)
            .replace(u'.', u',');
    return v.toString();
}

// Columns worked out from others (the scale's price, tare and code): named
// only when what they come from did not change.
bool derivedColumn(const QString &column)
{
    const QString c = column.toLower();
    return c == QLatin1String("unitprice") || c == QLatin1String("tareweight") || c == QLatin1String("plucode");
}

} // namespace

ProductQuery::ProductQuery(QObject *parent) : QObject(parent) {}

ProductQuery::~ProductQuery() = default;

ProductQuery::Quiet::Quiet(ProductQuery &query) : m_query(query)
{
    ++m_query.m_quiet;
}

ProductQuery::Quiet::~Quiet()
{
    if (--m_query.m_quiet > 0 || !m_query.m_quietMissed)
        return;
    m_query.m_quietMissed = false;
    emit m_query.rowsChanged();
    emit m_query.stateChanged(m_query.m_state);
    emit m_query.afterScroll();
}

void ProductQuery::notifyScroll()
{
    if (m_quiet > 0)
        m_quietMissed = true;
    else
        emit afterScroll();
}

void ProductQuery::notifyRowChanged()
{
    if (m_quiet > 0) {
        m_quietMissed = true;
        return;
    }
    emit rowChanged(m_current);
}

void ProductQuery::setTable(const QString &table, const QString &keyColumn)
{
    m_statements.clear();
    m_table = table;
    m_keyColumn = keyColumn;
}

int ProductQuery::fieldIndex(const QString &name) const
{
    // Asked for every value the saves read: no lower-cased copies, and the
    // name as the table spells it (nearly every call) found without the
    // case-blind comparison, which costs several times more.
    for (int i = 0; i < m_fields.size(); ++i)
        if (m_fields[i] == name)
            return i;
    for (int i = 0; i < m_fields.size(); ++i)
        if (m_fields[i].size() == name.size() && m_fields[i].compare(name, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

bool ProductQuery::open(QString *error)
{
    close();
    m_lastError.clear();
    // Read as the saves are (on the file through the engine's own handle):
    // the whole list is read again after every change of all products.
    db::KeptStatements::Statement &list = m_statements.get(m_sql);
    QSqlError failed;
    QVector<QVector<QVariant>> rows;
    if (!m_statements.run(list, {}, [&rows](const QVector<QVariant> &row) { rows.push_back(row); }, &failed)) {
        m_lastError = db::errorText(failed);
        if (error)
            *error = m_lastError;
        return false;
    }
    m_fields = list.names;
    m_rows = std::move(rows);
    m_current = m_rows.isEmpty() ? -1 : 0;
    m_bof = true;
    m_eof = m_rows.isEmpty();
    setState(State::Browse);
    emit opened();
    emit afterScroll();
    return true;
}

void ProductQuery::setDatabase(const QSqlDatabase &db)
{
    m_statements.setDatabase(db);
    m_db = db;
    db::dropOnReconnect(m_db, this, [this] { m_statements.clear(); });
}

void ProductQuery::close()
{
    // Kept saves are sent before the rows they came from are let go.
    if (m_batching)
        sendPending(true);
    // A connection is closed after the lists on it; statements kept open
    // would hold it.
    m_statements.clear();
    if (m_state == State::Inactive)
        return;
    m_rows.clear();
    m_backup.clear();
    m_current = -1;
    m_eof = m_bof = true;
    setState(State::Inactive);
    emit closed();
}

void ProductQuery::setState(State s)
{
    if (m_state == s)
        return;
    m_state = s;
    if (m_quiet > 0)
        m_quietMissed = true;
    else
        emit stateChanged(s);
}

bool ProductQuery::leaveEdit()
{
    if (m_state != State::Edit)
        return true;
    return post() == PostResult::Posted;
}

bool ProductQuery::moveInternal(int row)
{
    if (m_state == State::Inactive)
        return false;
    if (!leaveEdit())
        return false;
    if (m_rows.isEmpty()) {
        m_eof = m_bof = true;
        notifyScroll();
        return true;
    }
    m_current = qBound(0, row, int(m_rows.size()) - 1);
    m_bof = m_eof = false;
    notifyScroll();
    return true;
}

bool ProductQuery::first()
{
    if (!moveInternal(0))
        return false;
    m_bof = true;
    m_eof = m_rows.isEmpty();
    return true;
}

bool ProductQuery::last()
{
    if (!moveInternal(int(m_rows.size()) - 1))
        return false;
    m_eof = m_rows.isEmpty();
    return true;
}

bool ProductQuery::next()
{
    if (m_state == State::Inactive)
        return false;
    if (m_current + 1 >= m_rows.size()) {
        if (!leaveEdit())
            return false;
        m_eof = true;
        return true;
    }
    return moveInternal(m_current + 1);
}

bool ProductQuery::prior()
{
    if (m_state == State::Inactive)
        return false;
    if (m_current <= 0) {
        if (!leaveEdit())
            return false;
        m_bof = true;
        return true;
    }
    return moveInternal(m_current - 1);
}

bool ProductQuery::moveTo(int row)
{
    if (row < 0 || row >= m_rows.size())
        return false;
    return moveInternal(row);
}

bool ProductQuery::locate(const QStringList &columns, const QVariantList &values)
{
    if (columns.size() != values.size() || columns.isEmpty())
        return false;
    QVector<int> idx;
    for (const QString &c : columns) {
        const int i = fieldIndex(c);
        if (i < 0)
            return false;
        idx << i;
    }
    for (int r = 0; r < m_rows.size(); ++r) {
        bool match = true;
        for (int k = 0; k < idx.size() && match; ++k)
            match = sameValue(m_rows[r][idx[k]], values[k]);
        if (match)
            return moveTo(r);
    }
    return false;
}

QVariant ProductQuery::value(const QString &column) const
{
    return value(m_current, column);
}

QVariant ProductQuery::oldValue(const QString &column) const
{
    if (m_state != State::Edit)
        return value(column);
    return m_backup.value(fieldIndex(column));
}

QVariant ProductQuery::value(int row, const QString &column) const
{
    return value(row, fieldIndex(column));
}

QVariant ProductQuery::value(int row, int column) const
{
    if (row < 0 || row >= m_rows.size() || column < 0 || column >= m_fields.size())
        return {};
    return m_rows[row][column];
}

bool ProductQuery::setValue(const QString &column, const QVariant &value)
{
    if (m_state != State::Edit || m_current < 0)
        return false;
    const int i = fieldIndex(column);
    if (i < 0) {
        // A value for a column the table lacks would be dropped and read
        // back as 0 (a price of 0 sent to the scale): the save must fail.
        if (!m_unknownColumns.contains(column))
            m_unknownColumns << column;
        return false;
    }
    // An empty text is stored as the empty text, never as NULL (a null
    // QString binds as NULL).
    if (value.typeId() == QMetaType::QString && value.toString().isNull())
        m_rows[m_current][i] = QString(QLatin1String(""));
    else
        m_rows[m_current][i] = value;
    return true;
}

bool ProductQuery::edit()
{
    if (m_state == State::Edit)
        return true;
    if (m_state != State::Browse || m_current < 0)
        return false;
    m_backup = m_rows[m_current];
    m_unknownColumns.clear();
    setState(State::Edit);
    return true;
}

ProductQuery::PostResult ProductQuery::post()
{
    if (m_state != State::Edit)
        return PostResult::Posted;
    m_lastError.clear();
    m_failure = Failure::None;
    if (beforePost && !beforePost())
        return PostResult::Refused;

    if (!m_unknownColumns.isEmpty()) {
        m_lastError = QStringLiteral("A tabela de produtos não tem a coluna %1; o produto não foi gravado")
                          .arg(m_unknownColumns.join(QStringLiteral(", ")));
        return PostResult::Failed;
    }
    const int keyIndex = fieldIndex(m_keyColumn);
    QVector<QVariant> &row = m_rows[m_current];
    QStringList sets, columns;
    QVariantList bindings;
    auto changedColumns = [&] {
        sets.clear();
        columns.clear();
        bindings.clear();
        for (int i = 0; i < m_fields.size(); ++i) {
            if (i == keyIndex || sameValue(row[i], m_backup.value(i)))
                continue;
            sets << m_fields[i] + QStringLiteral(" = ?");
            columns << m_fields[i];
            bindings << row[i];
        }
    };
    changedColumns();
    if (!sets.isEmpty()) {
        if (keyIndex < 0) {
            m_lastError = QStringLiteral("A consulta não traz a coluna %1 e não pode ser gravada").arg(m_keyColumn);
            return PostResult::Failed;
        }
        const QVariant key = m_backup.value(keyIndex);
        // In a batch the save goes with the next ones; what the save reads
        // inside its transaction runs first, as below.
        if (batchReady()) {
            if (insideSave && !insideSave())
                return PostResult::Refused;
            changedColumns();
            if (sets.isEmpty())
                return posted();
            return queueSave(db::updateReadingStored(m_db, m_table, sets.join(QStringLiteral(", ")), m_keyColumn),
                             QVariantList{key} + bindings, columns);
        }
        // Saves kept for a batch go first: the table is written in the
        // order the rows were saved.
        if (m_batching && !sendPending(true))
            return PostResult::Failed;
        // A savepoint (a transaction of its own outside a bulk change)
        // lets a save that would touch more than one row be undone.
        db::Savepoint sp(m_db, QStringLiteral("product_save"), &m_statements);
        if (!sp.begin(&m_lastError))
            return PostResult::Failed;
        auto fail = [&](const QSqlError &error) {
            m_lastError = db::errorText(error);
            m_failure = db::classifyError(error) == db::EngineError::Duplicate ? Failure::Duplicate : Failure::Engine;
            sp.rollback();
            return PostResult::Failed;
        };
        // What the save reads inside its transaction (the settings as
        // stored now) may still change the row before it is written.
        if (insideSave && !insideSave()) {
            sp.rollback();
            return PostResult::Refused;
        }
        changedColumns();
        if (sets.isEmpty())
            return sp.release(&m_lastError) ? posted() : (sp.rollback(), PostResult::Failed);
        // The row as stored now, locked on a server until the save ends: a
        // row another PC changed since it was shown here is not written over.
        // A server reads and writes it in one statement (one round trip less
        // for every row of a bulk change or an import); a write found to be
        // over another PC's change is undone with the savepoint.
        const QString setList = sets.join(QStringLiteral(", "));
        const QString together = db::updateReadingStored(m_db, m_table, setList, m_keyColumn);
        QVector<QVector<QVariant>> found, written;
        QSqlError error;
        const bool read = together.isEmpty()
            ? runStatement(QStringLiteral("Select * From %1 Where %2 = ?").arg(m_table, m_keyColumn), {key}, row,
                           {&found}, &error)
            : runStatement(together, QVariantList{key} + bindings, row, {&found, &written}, &error);
        if (!read)
            return fail(error);
        // The row keeps what the engine stored (a number typed as text is
        // shown, and later compared, as the number it became).
        if (found.size() == 1 && differences(m_backup, found.first()).isEmpty() && together.isEmpty()
            && !runStatement(QStringLiteral("UPDATE %1 SET %2 WHERE %3 = ? RETURNING *").arg(m_table, setList, m_keyColumn),
                             bindings + QVariantList{key}, row, {&written}, &error))
            return fail(error);
        Failure failure = Failure::None;
        const QString problem = storedRowProblem(key, m_backup, found, written, &failure);
        if (!problem.isEmpty()) {
            sp.rollback();
            m_lastError = problem;
            if (failure == Failure::ChangedElsewhere) {
                m_failure = failure;
                row = found.first();
                m_backup.clear();
                setState(State::Browse);
                notifyRowChanged();
            }
            return PostResult::Failed;
        }
        if (!sp.release(&m_lastError)) {
            sp.rollback();
            return PostResult::Failed;
        }
        row = written.first();
    }
    return posted();
}

QString ProductQuery::storedRowProblem(const QVariant &key, const QVector<QVariant> &shown,
                                       const QVector<QVector<QVariant>> &found,
                                       const QVector<QVector<QVariant>> &written, Failure *failure) const
{
    if (found.size() != 1)
        return found.isEmpty() ? QStringLiteral("O produto %1 não existe mais no banco de dados").arg(key.toString())
                               : QStringLiteral("O número %1 está em %2 produtos da tabela; nenhum foi gravado")
                                     .arg(key.toString())
                                     .arg(found.size());
    const QStringList changedElsewhere = differences(shown, found.first());
    if (!changedElsewhere.isEmpty()) {
        const int desc = fieldIndex(QStringLiteral("pluDesc"));
        const QString name = desc >= 0 && !found.first().value(desc).toString().isEmpty()
            ? QStringLiteral(" (%1)").arg(found.first().value(desc).toString())
            : QString();
        *failure = Failure::ChangedElsewhere;
        return QStringLiteral("O produto %1%2 foi alterado em outro computador depois de aparecer nesta "
                              "tela: %3. A sua alteração não foi gravada, para não desfazer a outra; a tela "
                              "mostra agora o que está gravado. Confira e altere de novo se for preciso.")
            .arg(key.toString(), name, changedElsewhere.join(QStringLiteral("; ")));
    }
    if (written.size() != 1)
        return QStringLiteral("O produto %1 não foi gravado (%2 linhas alteradas)")
            .arg(key.toString())
            .arg(written.size());
    return {};
}

// ---- Saves sent together ----------------------------------------------------------

namespace {
// Saves sent in one wait: enough that the wait and the server's work for
// each statement are paid rarely, few enough that the answers (two rows a
// save, well under 100 kB) fit the connection's buffers while the next
// batch is made.
constexpr int kBatchRows = 250;
const QString kBatchMark = QStringLiteral("product_batch");
} // namespace

struct ProductQuery::Batching {
    explicit Batching(const QSqlDatabase &db) : server(db) {}
    struct Save {
        int row;
        QVariant key;
        QString sql; // in the server's dialect
        QVariantList values;
        QVector<QVariant> backup; // the row as shown before the save
        QStringList columns;      // written, in the order of values after the key
    };
    db::ServerBatch server;
    QVector<Save> pending; // kept, not sent yet
    QVector<Save> sent;    // sent, answers not read yet
    bool releaseDue = false; // a checked batch's savepoint is still open
    std::map<QString, QString> mapped;      // statement -> in the server's dialect
    std::map<QString, QVector<int>> columns; // server's statement -> result columns in the rows
    int undone = 0;
    int failedRow = -1;
    // Of the batch in flight, each statement after its savepoint: how many
    // saves it carries (one, or a run of them as one statement) and its text.
    struct Carried {
        qsizetype saves;
        QString sql;
    };
    QVector<Carried> carried;
    bool oneByOne = false; // the next batch goes a save a statement
};

bool ProductQuery::batchReady() const
{
    // A batch of its own in flight keeps the connection in its hands.
    return m_batching && (m_batching->server.inFlight() || db::ServerBatch::usable(m_db));
}

ProductQuery::Batch::Batch(ProductQuery &query) : m_query(query)
{
    if (!m_query.m_batching)
        m_query.m_batching = std::make_unique<Batching>(m_query.m_db);
}

ProductQuery::Batch::~Batch()
{
    finish();
    m_query.m_batching.reset();
}

bool ProductQuery::Batch::finish()
{
    return !m_query.m_batching || m_query.sendPending(true);
}

int ProductQuery::Batch::undone() const
{
    return m_query.m_batching ? m_query.m_batching->undone : 0;
}

int ProductQuery::Batch::failedRow() const
{
    return m_query.m_batching ? m_query.m_batching->failedRow : -1;
}

ProductQuery::PostResult ProductQuery::queueSave(const QString &sql, const QVariantList &values,
                                                const QStringList &columns)
{
    Batching &b = *m_batching;
    auto known = b.mapped.find(sql);
    if (known == b.mapped.end())
        known = b.mapped.emplace(sql, db::mapAccessSql(m_db, sql)).first;
    b.pending.push_back({m_current, values.first(), known->second, values, m_backup, columns});
    // A full batch goes out once the one before it is checked; the walk
    // goes on while the server works.
    if (b.pending.size() < kBatchRows || sendPending(false))
        return posted();
    // This save was undone with the rest: it had not been reported as done,
    // and it stays in edit for the caller to cancel.
    --b.undone;
    return PostResult::Failed;
}

bool ProductQuery::receiveBatch()
{
    Batching &b = *m_batching;
    if (!b.server.inFlight())
        return true;
    QVector<db::ServerBatch::Result> results;
    QSqlError error;
    b.server.receive(&results, &error);
    QVector<Batching::Save> saves = std::move(b.sent);
    b.sent.clear();
    // The batch's statements: the release of the batch before it (when one
    // is due), its savepoint, then the saves'.
    const qsizetype first = results.size() - b.carried.size();
    const QVector<Batching::Carried> carried = std::move(b.carried);
    b.carried.clear();

    // The batch undone back to its savepoint (the saves kept since are not
    // on the server yet).
    auto undoBatch = [&] {
        QVector<db::ServerBatch::Result> ended;
        b.server.run({{QStringLiteral("ROLLBACK TO ") + kBatchMark, {}}, {QStringLiteral("RELEASE ") + kBatchMark, {}}},
                     &ended, &error);
        b.releaseDue = false;
    };

    // Each save's answer, checked as a save one at a time is checked.
    qsizetype failedAt = -1;
    Failure failure = Failure::None;
    QString problem;
    QVector<QVector<QVariant>> found, written;
    QVector<QVector<QVariant>> writtenRows(saves.size());
    for (qsizetype i = 0; i < first; ++i)
        if (results[i].error.isValid()) {
            failedAt = 0;
            problem = db::errorText(results[i].error);
            failure = Failure::Engine;
            break;
        }
    bool runFailed = false;
    qsizetype at = 0; // the statement's first save
    for (qsizetype j = 0; failedAt < 0 && !runFailed && j < carried.size(); at += carried[j++].saves) {
        const db::ServerBatch::Result &r = results[first + j];
        const qsizetype count = carried[j].saves;
        if (r.error.isValid()) {
            runFailed = count > 1;
            if (runFailed)
                break;
            failedAt = at;
            problem = db::errorText(r.error);
            failure = db::classifyError(r.error) == db::EngineError::Duplicate ? Failure::Duplicate : Failure::Engine;
            break;
        }
        // A run's rows come in no set order: each save's are found by key.
        QHash<QString, QVector<QVector<QVariant>>> byKey;
        if (count > 1) {
            const auto keyAt = std::find_if(r.names.cbegin(), r.names.cend(), [this](const QString &name) {
                return name.compare(m_keyColumn, Qt::CaseInsensitive) == 0;
            }) - r.names.cbegin();
            for (const QVector<QVariant> &values : r.rows)
                byKey[values.value(keyAt).toString()] << values;
        }
        for (qsizetype i = at; i < at + count; ++i) {
            found.clear();
            written.clear();
            splitRows(r.names, b.columns[carried[j].sql], count > 1 ? byKey.value(saves[i].key.toString()) : r.rows,
                      m_rows[saves[i].row], {&found, &written});
            problem = storedRowProblem(saves[i].key, saves[i].backup, found, written, &failure);
            if (!problem.isEmpty()) {
                failedAt = i;
                break;
            }
            writtenRows[i] = written.first();
        }
    }
    if (runFailed) {
        // The engine refused a run of saves sent as one statement without
        // telling which: the batch is undone and sent again a save a
        // statement, which finds the one (or goes through, when the run
        // failed only as a whole).
        undoBatch();
        b.pending = saves + b.pending;
        b.oneByOne = true;
        return sendPending(true);
    }
    if (failedAt < 0) {
        for (qsizetype i = 0; i < saves.size(); ++i)
            m_rows[saves[i].row] = writtenRows[i];
        b.releaseDue = true;
        return true;
    }
    // The batch is undone, and the saves kept since it went out; the saves
    // before the failed one are sent again (they passed), and a failure
    // among them is the one reported.
    undoBatch();
    for (qsizetype i = failedAt; i < saves.size(); ++i)
        m_rows[saves[i].row] = saves[i].backup;
    for (const Batching::Save &kept : std::as_const(b.pending))
        m_rows[kept.row] = kept.backup;
    b.undone += int(saves.size() - failedAt + b.pending.size());
    b.pending = saves.mid(0, failedAt);
    if (!sendPending(true))
        return false;
    const Batching::Save &failed = saves[failedAt];
    if (failure == Failure::ChangedElsewhere)
        m_rows[failed.row] = found.first();
    b.failedRow = failed.row;
    m_lastError = problem;
    m_failure = failure;
    return false;
}

bool ProductQuery::sendPending(bool wait)
{
    Batching &b = *m_batching;
    if (!receiveBatch())
        return false;
    if (!b.pending.isEmpty()) {
        QVector<db::ServerBatch::Statement> statements;
        statements.reserve(b.pending.size() + 2);
        if (b.releaseDue)
            statements.push_back({QStringLiteral("RELEASE ") + kBatchMark, {}});
        statements.push_back({QStringLiteral("SAVEPOINT ") + kBatchMark, {}});
        b.carried.clear();
        for (qsizetype i = 0; i < b.pending.size();) {
            // A run of saves, each of another row, goes as one statement:
            // the server's work a statement (not a row) is most of a save's
            // time there.  Each save writes only its own columns.
            const qsizetype last = b.oneByOne ? i + 1 : b.pending.size();
            qsizetype end = i;
            QSet<QString> keys;
            QStringList columns;
            QVector<QStringList> names;
            QVector<QVariantList> values;
            for (; end < last; ++end) {
                const Batching::Save &save = b.pending[end];
                if (keys.contains(save.key.toString()))
                    break;
                keys.insert(save.key.toString());
                for (const QString &c : save.columns)
                    if (!columns.contains(c))
                        columns << c;
                names << QStringList{m_keyColumn} + save.columns;
                values << save.values;
            }
            const QString rows = end - i > 1 ? db::ServerBatch::jsonRows(names, values) : QString();
            if (rows.isEmpty()) {
                for (; i < end; ++i) {
                    statements.push_back({b.pending[i].sql, b.pending[i].values});
                    b.carried.push_back({1, b.pending[i].sql});
                }
                continue;
            }
            const QString many = columns.join(u',');
            auto known = b.mapped.find(many);
            if (known == b.mapped.end())
                known =
                    b.mapped
                        .emplace(many, db::mapAccessSql(m_db, db::updateManyReadingStored(m_db, m_table, columns, m_keyColumn)))
                        .first;
            statements.push_back({known->second, {rows}});
            b.carried.push_back({end - i, known->second});
            i = end;
        }
        b.oneByOne = false;
        b.releaseDue = false;
        b.sent = std::move(b.pending);
        b.pending.clear();
        b.server.send(statements);
    }
    if (!wait)
        return true;
    if (!receiveBatch())
        return false;
    if (!b.releaseDue)
        return true;
    // Nothing left out: the last batch's savepoint goes too.
    b.releaseDue = false;
    QVector<db::ServerBatch::Result> ended;
    QSqlError error;
    if (b.server.run({{QStringLiteral("RELEASE ") + kBatchMark, {}}}, &ended, &error))
        return true;
    m_lastError = db::errorText(error);
    m_failure = Failure::Engine;
    return false;
}

void ProductQuery::splitRows(const QStringList &names, QVector<int> &columns, const QVector<QVector<QVariant>> &result,
                             const QVector<QVariant> &fallback,
                             std::initializer_list<QVector<QVector<QVariant>> *> into) const
{
    for (const QVector<QVariant> &values : result) {
        // Where each result column goes in the list's rows, worked out once
        // for the statement (the list's columns stay while it is open).
        if (columns.size() != values.size()) {
            columns.resize(values.size());
            for (int at = 0; at < values.size(); ++at)
                columns[at] = fieldIndex(names.value(at));
        }
        const int part = int(values.size()) / int(into.size());
        int from = 0;
        for (QVector<QVector<QVariant>> *rows : into) {
            QVector<QVariant> row = fallback;
            for (int at = from; at < from + part; ++at)
                if (columns[at] >= 0)
                    row[columns[at]] = values[at];
            *rows << std::move(row);
            from += part;
        }
    }
}

ProductQuery::PostResult ProductQuery::posted()
{
    m_backup.clear();
    setState(State::Browse);
    notifyRowChanged();
    if (m_quiet > 0)
        m_quietMissed = true;
    else
        emit afterPost();
    return PostResult::Posted;
}

bool ProductQuery::runStatement(const QString &sql, const QVariantList &values, const QVector<QVariant> &fallback,
                                std::initializer_list<QVector<QVector<QVariant>> *> into, QSqlError *error)
{
    db::KeptStatements::Statement &kept = m_statements.get(sql);
    return m_statements.run(kept, values,
                            [&](const QVector<QVariant> &result) {
                                splitRows(kept.names, kept.columns, {result}, fallback, into);
                            },
                            error);
}

QStringList ProductQuery::differences(const QVector<QVariant> &shown, const QVector<QVariant> &stored) const
{
    QStringList changes, derived;
    for (int i = 0; i < m_fields.size(); ++i)
        if (!sameValue(shown.value(i), stored.value(i)))
            (derivedColumn(m_fields[i]) ? derived : changes)
                << QStringLiteral("%1: %2 → %3")
                       .arg(columnLabel(m_fields[i]), shownValue(m_fields[i], shown.value(i)),
                            shownValue(m_fields[i], stored.value(i)));
    return changes.isEmpty() ? derived : changes;
}

void ProductQuery::cancel()
{
    if (m_state != State::Edit)
        return;
    m_rows[m_current] = m_backup;
    m_backup.clear();
    setState(State::Browse);
    notifyRowChanged();
}

bool ProductQuery::lookUp(const QString &sql, const QVariantList &bindings, QVector<QVector<QVariant>> *rows,
                          QString *error)
{
    // The saves kept for a batch are written first: the look-up sees them.
    if (m_batching && !sendPending(true)) {
        if (error)
            *error = m_lastError;
        return false;
    }
    QSqlError failed;
    if (m_statements.run(m_statements.get(sql), bindings, [rows](const QVector<QVariant> &row) { *rows << row; },
                         &failed))
        return true;
    if (error)
        *error = db::errorText(failed);
    return false;
}

// ---- AuxQuery ----------------------------------------------------------------

bool AuxQuery::open(const QString &sql, const QVariantList &bindings, QString *error)
{
    close();
    m_sql = sql;
    QSqlQuery q(m_db);
    q.setForwardOnly(true);
    bool ok = q.prepare(db::mapAccessSql(m_db, sql));
    for (int i = 0; ok && i < bindings.size(); ++i)
        q.bindValue(i, db::bindable(bindings[i]));
    ok = ok && q.exec();
    if (!ok) {
        m_lastError = db::errorText(q.lastError());
        if (error)
            *error = m_lastError;
        return false;
    }
    const QSqlRecord rec = q.record();
    for (int i = 0; i < rec.count(); ++i)
        m_fields << rec.fieldName(i).toLower();
    while (q.next()) {
        QVector<QVariant> row(rec.count());
        for (int i = 0; i < rec.count(); ++i)
            row[i] = q.value(i);
        m_rows.push_back(std::move(row));
    }
    return true;
}

bool AuxQuery::exec(const QString &sql, const QVariantList &bindings, QString *error)
{
    close();
    m_sql = sql;
    QSqlQuery q(m_db);
    bool ok = q.prepare(db::mapAccessSql(m_db, sql));
    for (int i = 0; ok && i < bindings.size(); ++i)
        q.bindValue(i, db::bindable(bindings[i]));
    ok = ok && db::execWrite(m_db, q);
    if (!ok) {
        m_lastError = db::errorText(q.lastError());
        if (error)
            *error = m_lastError;
    }
    return ok;
}

void AuxQuery::close()
{
    m_fields.clear();
    m_rows.clear();
    m_lastError.clear();
}

QVariant AuxQuery::value(int row, int column) const
{
    if (row < 0 || row >= m_rows.size() || column < 0 || column >= m_rows[row].size())
        return {};
    return m_rows[row][column];
}

QVariant AuxQuery::value(int row, const QString &column) const
{
    return value(row, int(m_fields.indexOf(column.toLower())));
}

} // namespace torvane::manager

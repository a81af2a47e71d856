// Number, date and token checks and the repeating input box, under a comma
// locale (pt_BR) and a point locale (en_US).
#include "OperatorDialogs.h"
#include "Unitutil.h"

#include <QLocale>
#include <QMessageBox>
#include <QTextLayout>
#include <gtest/gtest.h>

#include <deque>
#include <stdexcept>

using namespace torvane::manager;

namespace {

// Plays the operator: answers input boxes from a script and records every
// message.  Running out of answers is a test failure, not an endless loop.
class ScriptedDialogs final : public OperatorDialogs {
public:
    struct Answer {
        bool ok;
        QString text;
    };
    std::deque<Answer> answers;
    QStringList errors;
    QStringList shownValues; // what each box started with
    QString lastCaption, lastPrompt;

    void message(const QString &caption, const QString &text, DialogIcon icon) override
    {
        // Every message of these routines is an error box.
        EXPECT_EQ(caption, QStringLiteral("Erro"));
        EXPECT_EQ(icon, DialogIcon::Error);
        errors << text;
    }
    bool confirm(const QString &, const QString &) override
    {
        ADD_FAILURE() << "no confirmation expected";
        return false;
    }
    QString openFileName(const QString &, const QString &, const QString &) override
    {
        ADD_FAILURE() << "no file dialog expected";
        return QString();
    }
    bool inputText(const QString &caption, const QString &prompt, QString *value) override
    {
        lastCaption = caption;
        lastPrompt = prompt;
        shownValues << *value;
        if (answers.empty())
            throw std::runtime_error("input box shown more often than the test expected");
        Answer a = answers.front();
        answers.pop_front();
        if (a.ok)
            *value = a.text;
        return a.ok;
    }
    void ok(const QString &t) { answers.push_back({true, t}); }
    void cancel() { answers.push_back({false, QString()}); }
};

class UtilTest : public ::testing::TestWithParam<const char *> {
protected:
    void SetUp() override
    {
        saved = QLocale();
        QLocale::setDefault(QLocale(QString::fromLatin1(GetParam())));
        setOperatorDialogs(&ui);
    }
    void TearDown() override
    {
        setOperatorDialogs(nullptr);
        QLocale::setDefault(saved);
    }
    bool comma() const { return QLocale().decimalPoint() == QLatin1String(","); }
    QString dec(const char *pointForm) const
    {
        QString s = QString::fromLatin1(pointForm);
        if (comma())
            s.replace(QLatin1Char('.'), QLatin1Char(','));
        return s;
    }
    QString date(const QDate &d) const
    {
        return QLocale().toString(d, QLocale::ShortFormat);
    }
    QLocale saved;
    ScriptedDialogs ui;
};

TEST_P(UtilTest, NumbersFollowTheLocaleDecimalSeparator)
{
    EXPECT_TRUE(IsNumeric(QStringLiteral("1E3")));
    EXPECT_TRUE(IsNumeric(QStringLiteral("1e-3")));
    EXPECT_TRUE(IsNumeric(QStringLiteral("  12  ")));
    EXPECT_TRUE(IsNumeric(QStringLiteral("-5")));
    EXPECT_TRUE(IsNumeric(QStringLiteral("+7")));
    EXPECT_TRUE(IsNumeric(dec("12.5")));
    EXPECT_TRUE(IsNumeric(dec("-0.25E2")));
    EXPECT_FALSE(IsNumeric(QString()));
    EXPECT_FALSE(IsNumeric(QStringLiteral("   ")));
    EXPECT_FALSE(IsNumeric(QStringLiteral("12a")));
    EXPECT_FALSE(IsNumeric(QStringLiteral("1E")));
    EXPECT_FALSE(IsNumeric(QStringLiteral("-")));
    EXPECT_FALSE(IsNumeric(QStringLiteral("1 2")));
    // A thousands separator is never part of a number, in either locale.
    EXPECT_FALSE(IsNumeric(QStringLiteral("1.234,5")));
    EXPECT_FALSE(IsNumeric(QStringLiteral("1,234.5")));
    // The other locale's decimal separator is refused.
    EXPECT_FALSE(IsNumeric(comma() ? QStringLiteral("12.5") : QStringLiteral("12,5")));

    EXPECT_DOUBLE_EQ(*ParseNumber(dec("12.5")), 12.5);
    EXPECT_DOUBLE_EQ(*ParseNumber(dec("-0.25E2")), -25.0);
    EXPECT_DOUBLE_EQ(*ParseNumber(QStringLiteral(" 1E3 ")), 1000.0);
}

TEST_P(UtilTest, DatesFollowTheLocaleShortFormat)
{
    const QDate d(2024, 2, 29);
    EXPECT_TRUE(IsValidDate(date(d), QString()));
    EXPECT_EQ(ParseDate(date(d)), d);
    // Day and month written in the locale's order: the 13th month is refused.
    const QString dm13 = comma() ? QStringLiteral("13/12/2024") : QStringLiteral("12/13/2024");
    const QString md13 = comma() ? QStringLiteral("12/13/2024") : QStringLiteral("13/12/2024");
    EXPECT_EQ(ParseDate(dm13), QDate(2024, 12, 13));
    EXPECT_FALSE(IsValidDate(md13, QString()));
    EXPECT_FALSE(IsValidDate(QStringLiteral("31/31/2023"), QString()));
    EXPECT_FALSE(IsValidDate(QStringLiteral("29/02/2023"), QString())); // no 29 Feb, nor month 29
    EXPECT_TRUE(ui.errors.isEmpty());

    // A failed date with a label names it; an empty text is silent.
    EXPECT_FALSE(IsValidDate(QStringLiteral("amanhã"), QStringLiteral("Validade")));
    ASSERT_EQ(ui.errors.size(), 1);
    EXPECT_EQ(ui.errors[0], QStringLiteral("Validade não é uma data válida."));
    EXPECT_FALSE(IsValidDate(QString(), QStringLiteral("Validade")));
    EXPECT_EQ(ui.errors.size(), 1);
}

TEST_P(UtilTest, TwoDigitAndMissingYears)
{
    const int year = QDate::currentDate().year();
    const QString sep = QString(LocaleDateSeparator());
    const QString two = QStringLiteral("%1").arg(year % 100, 2, 10, QLatin1Char('0'));
    EXPECT_EQ(ParseDate(QStringLiteral("05") + sep + QStringLiteral("05") + sep + two), QDate(year, 5, 5));
    EXPECT_EQ(ParseDate(QStringLiteral("5") + sep + QStringLiteral("5")), QDate(year, 5, 5));
}

TEST_P(UtilTest, TokensOfAnOptionText)
{
    const QString opts = QStringLiteral("4;5;6;");
    EXPECT_EQ(GetToken(opts, 1), QStringLiteral("4"));
    EXPECT_EQ(GetToken(opts, 2), QStringLiteral("5"));
    EXPECT_EQ(GetToken(opts, 3), QStringLiteral("6"));
    EXPECT_TRUE(GetToken(opts, 4).isEmpty());
    EXPECT_TRUE(GetToken(opts, 40).isEmpty());
    EXPECT_TRUE(GetToken(opts, 0).isEmpty());
    EXPECT_TRUE(GetToken(opts, -1).isEmpty());
    EXPECT_EQ(GetToken(QStringLiteral("4;5;6"), 3), QStringLiteral("6"));
    EXPECT_TRUE(GetToken(QStringLiteral("a;;b;"), 2).isEmpty());
    EXPECT_EQ(GetToken(QStringLiteral("a;;b;"), 3), QStringLiteral("b"));
    EXPECT_EQ(GetToken(QStringLiteral("só"), 1), QStringLiteral("só"));
    EXPECT_EQ(GetToken(QStringLiteral("a|b"), 2, QLatin1Char('|')), QStringLiteral("b"));
    EXPECT_TRUE(GetToken(QString(), 1).isEmpty());
}

TEST_P(UtilTest, NumberPromptInsistsOnTheRange)
{
    QString value;
    ui.ok(QStringLiteral("10"));
    ui.ok(QStringLiteral("abc"));
    ui.ok(QStringLiteral("9"));
    ASSERT_TRUE(InputValue(QStringLiteral("Escolha o prefixo 1"), QStringLiteral("Prefixo 1 (0 a 9):"), value,
                           QLatin1Char('N'), 0, 9, false));
    EXPECT_EQ(value, QStringLiteral("9"));
    EXPECT_EQ(ui.lastCaption, QStringLiteral("Escolha o prefixo 1"));
    EXPECT_EQ(ui.lastPrompt, QStringLiteral("Prefixo 1 (0 a 9):"));
    ASSERT_EQ(ui.errors.size(), 2);
    EXPECT_EQ(ui.errors[0], QStringLiteral("O Valor deve estar entre 0 e 9."));
    EXPECT_EQ(ui.errors[1], QStringLiteral("O valor digitado não é um valor numérico válido."));
    // Each new box starts with the last answer.
    EXPECT_EQ(ui.shownValues, (QStringList{QString(), QStringLiteral("10"), QStringLiteral("abc")}));

    value.clear();
    ui.ok(QStringLiteral("0"));
    EXPECT_TRUE(InputValue(QStringLiteral("c"), QStringLiteral("p"), value, QLatin1Char('N'), 0, 9, false));
    EXPECT_EQ(value, QStringLiteral("0"));

    // A fraction inside the range is a valid answer, kept as typed.
    value.clear();
    ui.ok(dec("5.5"));
    EXPECT_TRUE(InputValue(QStringLiteral("c"), QStringLiteral("p"), value, QLatin1Char('N'), 0, 9, false));
    EXPECT_EQ(value, dec("5.5"));
    // ... and a negative fraction just below the range is not.
    value.clear();
    ui.ok(dec("-0.5"));
    ui.ok(QStringLiteral(" 3 "));
    EXPECT_TRUE(InputValue(QStringLiteral("c"), QStringLiteral("p"), value, QLatin1Char('N'), 0, 9, false));
    EXPECT_EQ(value, QStringLiteral(" 3 "));
    EXPECT_EQ(ui.errors.last(), QStringLiteral("O Valor deve estar entre 0 e 9."));
}

TEST_P(UtilTest, CancelGivesUpUnlessInsisting)
{
    QString value = QStringLiteral("7");
    ui.cancel();
    EXPECT_FALSE(InputValue(QStringLiteral("c"), QStringLiteral("p"), value, QLatin1Char('N'), 0, 9, false));
    EXPECT_EQ(value, QStringLiteral("7"));

    // Insisting: Cancel re-checks the unchanged value; an invalid value keeps
    // the box coming back with the same message, a valid one is accepted.
    value = QStringLiteral("12");
    ui.cancel();
    ui.cancel();
    ui.ok(QStringLiteral("4"));
    ui.errors.clear();
    EXPECT_TRUE(InputValue(QStringLiteral("c"), QStringLiteral("p"), value, QLatin1Char('N'), 0, 9, true));
    EXPECT_EQ(value, QStringLiteral("4"));
    EXPECT_EQ(ui.errors, (QStringList{QStringLiteral("O Valor deve estar entre 0 e 9."),
                                      QStringLiteral("O Valor deve estar entre 0 e 9.")}));

    value = QStringLiteral("8");
    ui.cancel();
    EXPECT_TRUE(InputValue(QStringLiteral("c"), QStringLiteral("p"), value, QLatin1Char('N'), 0, 9, true));
    EXPECT_EQ(value, QStringLiteral("8"));
}

TEST_P(UtilTest, NumberPromptWithoutRangeTakesAnyNumber)
{
    QString value;
    ui.ok(dec("-1234.5"));
    EXPECT_TRUE(InputValue(QStringLiteral("c"), QStringLiteral("p"), value, QLatin1Char('N'), 0, 0, false));
    EXPECT_TRUE(ui.errors.isEmpty());
}

TEST_P(UtilTest, DatePromptChecksTheWindowAroundToday)
{
    const QDate today = QDate::currentDate();
    QString value;
    ui.ok(QStringLiteral("no date"));         // silently asked again
    ui.ok(date(today.addDays(31)));           // outside: message
    ui.ok(date(today.addDays(30)));           // last day accepted
    ASSERT_TRUE(InputValue(QStringLiteral("c"), QStringLiteral("p"), value, QLatin1Char('D'), -2, 30, false));
    EXPECT_EQ(value, date(today.addDays(30)));
    ASSERT_EQ(ui.errors.size(), 1);
    const QChar s = LocaleDateSeparator();
    EXPECT_EQ(ui.errors[0], QStringLiteral("A Data deve estar entre %1 e %2.")
                                .arg(today.addDays(-2).toString(QStringLiteral("dd'%1'MM'%1'yyyy").arg(s)),
                                     today.addDays(30).toString(QStringLiteral("dd'%1'MM'%1'yyyy").arg(s))));

    // min = max = 0 accepts today only.
    value.clear();
    ui.errors.clear();
    ui.ok(date(today.addDays(1)));
    ui.ok(date(today));
    EXPECT_TRUE(InputValue(QStringLiteral("c"), QStringLiteral("p"), value, QLatin1Char('D'), 0, 0, false));
    EXPECT_EQ(ui.errors.size(), 1);

    // Insisting on an invalid date: Cancel asks again without a message.
    value = QStringLiteral("xx");
    ui.errors.clear();
    ui.cancel();
    ui.cancel();
    ui.ok(date(today));
    EXPECT_TRUE(InputValue(QStringLiteral("c"), QStringLiteral("p"), value, QLatin1Char('D'), 0, 0, true));
    EXPECT_TRUE(ui.errors.isEmpty());
}

TEST_P(UtilTest, TextPromptChecksTheLength)
{
    QString value;
    ui.ok(QStringLiteral("a"));
    ui.ok(QStringLiteral("abcdef"));
    ui.ok(QStringLiteral("ação"));
    ASSERT_TRUE(InputValue(QStringLiteral("c"), QStringLiteral("p"), value, QLatin1Char('T'), 2, 5, false));
    EXPECT_EQ(value, QStringLiteral("ação"));
    const QString msg = QStringLiteral("O informação deve ter no mínimo 2 carater(es) e no máximo 5 caracter(es).");
    EXPECT_EQ(ui.errors, (QStringList{msg, msg}));

    value.clear();
    ui.ok(QStringLiteral("ab"));
    EXPECT_TRUE(InputValue(QStringLiteral("c"), QStringLiteral("p"), value, QLatin1Char('x'), 2, 5, false));
    value.clear();
    ui.ok(QString());
    EXPECT_TRUE(InputValue(QStringLiteral("c"), QStringLiteral("p"), value, QLatin1Char('x'), 0, 0, false));
}

INSTANTIATE_TEST_SUITE_P(Locales, UtilTest, ::testing::Values("pt_BR", "en_US"),
                         [](const auto &info) { return std::string(info.param); });

} // namespace

TEST(MessageBox, CaptionAsGivenPathOnOneLineLongListScrolls)
{
    QMessageBox box;
    const QString path = QStringLiteral("/home/loja/balanca/vendabase.accdb");
    prepareMessageBox(box, kCaptionError, QStringLiteral("O arquivo %1 não foi lido.").arg(path));
    EXPECT_EQ(box.windowTitle(), QStringLiteral("Erro"));
    QTextLayout layout(box.text(), box.font());
    // Laid out in a width far narrower than the path, it breaks only at blanks.
    layout.beginLayout();
    QStringList lines;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(40);
        lines << box.text().mid(line.textStart(), line.textLength()).trimmed();
    }
    layout.endLayout();
    EXPECT_TRUE(lines.contains(keepPathsWhole(path))) << lines.join('|').toStdString();

    QStringList many;
    for (int i = 0; i < 60; ++i)
        many << QStringLiteral("Código %1").arg(i);
    prepareMessageBox(box, kCaptionError, many.join('\n'));
    EXPECT_EQ(box.detailedText(), many.join('\n'));
    EXPECT_LT(box.text().count('\n'), 25);
}

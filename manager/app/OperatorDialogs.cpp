#include "OperatorDialogs.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QUrl>

namespace torvane::manager {

namespace {

OperatorDialogs *g_dialogs = nullptr;
ShellActions *g_shell = nullptr;

QWidget *dialogParent()
{
    if (QWidget *w = QApplication::activeModalWidget())
        return w;
    return QApplication::activeWindow();
}

QMessageBox::Icon toQt(DialogIcon icon)
{
    switch (icon) {
    case DialogIcon::Information:
        return QMessageBox::Information;
    case DialogIcon::Exclamation:
        return QMessageBox::Warning;
    case DialogIcon::Error:
        return QMessageBox::Critical;
    case DialogIcon::Question:
        return QMessageBox::Question;
    case DialogIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

} // namespace

OperatorDialogs &operatorDialogs()
{
    static QtOperatorDialogs qtDialogs;
    return g_dialogs ? *g_dialogs : qtDialogs;
}

void setOperatorDialogs(OperatorDialogs *dialogs)
{
    g_dialogs = dialogs;
}

ShellActions &shellActions()
{
    static QtShellActions qtShell;
    return g_shell ? *g_shell : qtShell;
}

void setShellActions(ShellActions *shell)
{
    g_shell = shell;
}

QString keepPathsWhole(const QString &text)
{
    // A word joiner after each separator: the box wraps a path only where
    // it has a blank, never after its first "/".
    QString out;
    out.reserve(text.size() + 8);
    for (QChar c : text) {
        out += c;
        if (c == u'/' || c == u'\\')
            out += QChar(0x2060);
    }
    return out;
}

void prepareMessageBox(QMessageBox &box, const QString &caption, const QString &text)
{
    box.setWindowTitle(caption);
    const QStringList lines = text.split(u'\n');
    if (lines.size() > kMessageBoxLines) {
        // A long list (the products a change would merge, say) is read in
        // the scrollable details; the box shows its beginning.
        box.setText(keepPathsWhole(lines.mid(0, kMessageBoxLines).join(u'\n') + QStringLiteral("\n...")));
        box.setDetailedText(text);
    } else {
        box.setText(keepPathsWhole(text));
    }
}

void QtOperatorDialogs::message(const QString &caption, const QString &text, DialogIcon icon)
{
    QMessageBox box(toQt(icon), caption, QString(), QMessageBox::Ok, dialogParent());
    prepareMessageBox(box, caption, text);
    box.exec();
}

bool QtOperatorDialogs::confirm(const QString &caption, const QString &text)
{
    QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No, dialogParent());
    box.button(QMessageBox::Yes)->setText(QStringLiteral("&Sim"));
    box.button(QMessageBox::No)->setText(QStringLiteral("&Não"));
    box.setDefaultButton(QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes;
}

bool QtOperatorDialogs::inputText(const QString &caption, const QString &prompt, QString *value)
{
    QInputDialog dlg(dialogParent());
    dlg.setWindowTitle(caption);
    dlg.setLabelText(prompt);
    dlg.setTextValue(value ? *value : QString());
    dlg.setOkButtonText(QStringLiteral("OK"));
    dlg.setCancelButtonText(QStringLiteral("Cancelar"));
    if (dlg.exec() != QDialog::Accepted)
        return false;
    if (value)
        *value = dlg.textValue();
    return true;
}

QString QtOperatorDialogs::openFileName(const QString &caption, const QString &directory, const QString &filter)
{
    // The pattern is offered in both cases: Linux file names are case-sensitive.
    QString nameFilter = filter;
    if (!filter.isEmpty() && filter != filter.toLower())
        nameFilter = QStringLiteral("%1 %2").arg(filter, filter.toLower());
    return QFileDialog::getOpenFileName(dialogParent(), caption, directory,
                                        nameFilter.isEmpty() ? QString()
                                                             : QStringLiteral("(%1);;(*)").arg(nameFilter));
}

int OperatorDialogs::choose(const QString &, const QString &, const QStringList &)
{
    return -1;
}

QString OperatorDialogs::existingFolder(const QString &, const QString &)
{
    return QString();
}

int QtOperatorDialogs::choose(const QString &caption, const QString &text, const QStringList &buttons)
{
    QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::NoButton, dialogParent());
    QVector<QAbstractButton *> added;
    for (const QString &b : buttons)
        added << box.addButton(b, QMessageBox::AcceptRole);
    if (!added.isEmpty()) {
        box.setDefaultButton(qobject_cast<QPushButton *>(added.first()));
        box.setEscapeButton(added.last());
    }
    box.exec();
    return int(added.indexOf(box.clickedButton()));
}

QString QtOperatorDialogs::existingFolder(const QString &caption, const QString &directory)
{
    return QFileDialog::getExistingDirectory(dialogParent(), caption, directory);
}

QString OperatorDialogs::saveFileName(const QString &caption, const QString &suggested, const QString &filter)
{
    return QFileDialog::getSaveFileName(dialogParent(), caption, suggested,
                                        filter.isEmpty() ? QString() : QStringLiteral("(%1);;(*)").arg(filter));
}

bool QtShellActions::startDetached(const QString &program, const QString &workingDirectory)
{
    return QProcess::startDetached(program, {}, workingDirectory);
}

bool QtShellActions::openDocument(const QString &path)
{
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

namespace {

// A failure that came without a word (nothing should, but a box with no
// text leaves the operator with nothing to do).
QString notEmpty(const QString &text)
{
    if (!text.trimmed().isEmpty())
        return text;
    return QStringLiteral("A operação não foi feita, e o motivo não foi informado; tente de novo e, se continuar, "
                          "avise o suporte.");
}

} // namespace

void showError(const QString &text)
{
    operatorDialogs().message(kCaptionError, notEmpty(text), DialogIcon::Error);
}

void showInformation(const QString &text)
{
    operatorDialogs().message(kCaptionInformation, text, DialogIcon::Exclamation);
}

bool askChoice(const QString &text)
{
    return operatorDialogs().confirm(kCaptionChoice, text);
}

QString applicationErrorText(const QString &text)
{
    if (text.trimmed().isEmpty())
        return notEmpty(text);
    if (text.endsWith(u'.'))
        return text;
    return text + u'.';
}

void showApplicationError(const QString &text)
{
    operatorDialogs().message(kApplicationTitle, applicationErrorText(text), DialogIcon::Error);
}

} // namespace torvane::manager

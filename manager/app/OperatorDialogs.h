#pragma once
// Every message box, confirmation, input box and file dialog of the manager
// goes through OperatorDialogs, so the tests can answer them and read what
// the operator would have seen.  Starting programs and opening documents go
// through ShellActions for the same reason.

#include <QString>
#include <QStringList>

class QMessageBox;
class QWidget;

namespace torvane::manager {

enum class DialogIcon { None, Information, Exclamation, Error, Question };

class OperatorDialogs {
public:
    virtual ~OperatorDialogs() = default;
    // A modal message box with an OK button.
    virtual void message(const QString &caption, const QString &text, DialogIcon icon) = 0;
    // A modal question with Yes and No; true when the operator answers Yes.
    virtual bool confirm(const QString &caption, const QString &text) = 0;
    // The standard input box (title, label, one edit field, OK and Cancel).
    // OK stores the edited text in *value and returns true; Cancel leaves
    // *value alone and returns false.
    virtual bool inputText(const QString &caption, const QString &prompt, QString *value) = 0;
    // File-open dialog; returns the chosen file, or an empty text when the
    // operator cancels.  filter is a pattern list such as "*.TXT".
    virtual QString openFileName(const QString &caption, const QString &directory, const QString &filter) = 0;
    // A question with buttons of its own (captions may carry & accelerators);
    // returns the index of the button pressed, or -1 when the box is closed.
    // Unless overridden it answers as an operator who closes the box.
    virtual int choose(const QString &caption, const QString &text, const QStringList &buttons);
    // Folder chooser starting in directory; an empty text when the operator
    // cancels (also the answer unless overridden).
    virtual QString existingFolder(const QString &caption, const QString &directory);
    // File-save dialog (asks before replacing a file); empty when the
    // operator cancels.  suggested is the proposed path.
    virtual QString saveFileName(const QString &caption, const QString &suggested, const QString &filter);
};

// How the manager starts the transmitter and shows documents.
class ShellActions {
public:
    virtual ~ShellActions() = default;
    // Starts program detached, in workingDirectory, without arguments.
    virtual bool startDetached(const QString &program, const QString &workingDirectory) = 0;
    // Opens a document with the viewer the desktop associates with it.
    virtual bool openDocument(const QString &path) = 0;
};

// The process-wide instances.  Until someone installs another, the Qt
// implementations are used.  Installing nullptr restores them.
OperatorDialogs &operatorDialogs();
void setOperatorDialogs(OperatorDialogs *dialogs);
ShellActions &shellActions();
void setShellActions(ShellActions *shell);

// The Qt implementations (modal QMessageBox, QInputDialog, QFileDialog).
class QtOperatorDialogs : public OperatorDialogs {
public:
    void message(const QString &caption, const QString &text, DialogIcon icon) override;
    bool confirm(const QString &caption, const QString &text) override;
    bool inputText(const QString &caption, const QString &prompt, QString *value) override;
    QString openFileName(const QString &caption, const QString &directory, const QString &filter) override;
    int choose(const QString &caption, const QString &text, const QStringList &buttons) override;
    QString existingFolder(const QString &caption, const QString &directory) override;
};

// How the Qt message box shows a text: the caption exactly as given, paths
// kept on one line, and a text longer than kMessageBoxLines lines cut in the
// box with the whole of it in the scrollable details.
inline constexpr int kMessageBoxLines = 20;
QString keepPathsWhole(const QString &text);
void prepareMessageBox(QMessageBox &box, const QString &caption, const QString &text);

class QtShellActions : public ShellActions {
public:
    bool startDetached(const QString &program, const QString &workingDirectory) override;
    bool openDocument(const QString &path) override;
};

// The three kinds of message box of the manager.
inline const QString kCaptionError = QStringLiteral("Erro");
inline const QString kCaptionInformation = QStringLiteral("Informação");
inline const QString kCaptionChoice = QStringLiteral("Escolha");
inline const QString kApplicationTitle = QStringLiteral("Torvane");

// "Erro", error icon: refused input and failures.  Neither this box nor the
// application's error box below is ever shown empty: a failure that came
// without a text says so.
void showError(const QString &text);
// "Informação", exclamation icon: information and success.
void showInformation(const QString &text);
// "Escolha", question icon, Yes and No: true on Yes.
bool askChoice(const QString &text);

// The application's standard error box for errors no window handles
// (database errors, failed conversions): caption "Torvane", error icon, the
// text with a period added when it does not end with one.
void showApplicationError(const QString &text);
QString applicationErrorText(const QString &text);

} // namespace torvane::manager

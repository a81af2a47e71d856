#pragma once
// The option selection dialog: one choice out of a short list (radio
// buttons) or several (a check list).  The caller prepares it with
// SetOptions, shows it modally, and after Ok reads Selection.  One instance,
// frmSelect, lives for the whole run.

#include <QDialog>
#include <QString>

class QButtonGroup;
class QGroupBox;
class QListWidget;
class QPushButton;
class QVBoxLayout;

namespace torvane::manager {

class TfrmSelect : public QDialog {
    Q_OBJECT
public:
    // Modal results of exec().
    enum Result { ResultOk = 1, ResultCancel = 2 };
    // SetOptions kind for a single choice; any other value is a check list.
    static constexpr int kSingleChoice = 1;

    explicit TfrmSelect(QWidget *parent = nullptr);

    // Prepares the dialog, does not show it.  options is a ";"-separated
    // list; initial is the option to select (single choice) or the bit mask
    // of options to check (several choices).
    void SetOptions(int kind, const QString &caption, const QString &options, int initial);

    // Result of the last Ok: the chosen position (-1 when none) for a single
    // choice, otherwise the sum of 2^i over the checked options.  Cancel
    // leaves it as it was.
    int Selection = 0;

    // Controls, reachable so the owner's tests can look and click.
    QGroupBox *rgSelect = nullptr;
    QGroupBox *gbSelect = nullptr;
    QListWidget *ckbSelect = nullptr;
    QPushButton *btnOk = nullptr;
    QPushButton *btnCancel = nullptr;

    // The options currently offered, in order.
    QStringList options() const;
    // Single choice: selects position i (-1 for none).  Check list: sets the
    // check of option i.  For the tests and callers that preset answers.
    void selectOption(int index);
    void setOptionChecked(int index, bool checked);
    bool isOptionChecked(int index) const;
    int selectedOption() const;

public slots:
    void btnOkClick();
    void btnCancelClick();
    // Closing with the title bar or Esc counts as Cancel.
    void reject() override;

private:
    QButtonGroup *m_radios = nullptr;
    QVBoxLayout *m_radioLayout = nullptr;
};

// The application's one selection dialog, created at start-up.
extern TfrmSelect *frmSelect;

} // namespace torvane::manager

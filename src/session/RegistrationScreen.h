#pragma once

#include "session/SessionDialog.h"

#include <QString>
#include <QStringList>

#include <exception>
#include <functional>

class QComboBox;
class QGroupBox;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace aquilevel {

class Session;

// Registration of a login name that is new for its version: the participant gives age,
// gender and field of study, and Begin stores one datSubject row with the name, the
// version, the condition and the date and time. The login reads Cleared() afterwards:
// true means the row was stored and the session may begin.
//
// The age box takes typed digits only (no leading zero; a lone 0 is replaced by the
// next digit), backspace, and the usual editing keys; Enter in it runs Begin when Begin
// is enabled. Nothing can be pasted or dropped into it. Cancel, the close box and
// Escape leave without storing anything.
class RegistrationScreen final : public SessionDialog {
    Q_OBJECT
public:
    // versionBoxText: the text of the login's version box, stored as the row's Version.
    RegistrationScreen(Session& session, const QString& versionBoxText, QWidget* parent = nullptr);

    // Shows a fresh screen modally and returns Cleared(). Where the process end throws
    // SessionOver instead of ending the process (a store access given up in tests), the
    // screen leaves its event loop first and ask() throws it on to the opener.
    static bool ask(Session& session, const QString& versionBoxText, QWidget* parent = nullptr);

    // The field-of-study list, in the order shown (27 entries, "Other" last), in English:
    // the entries as stored, whichever language the screen shows them in.
    static const QStringList& majors();

    // True once Begin has stored the row.
    bool Cleared() const { return m_cleared; }

    // What the participant has given so far; Begin is enabled exactly when all three are.
    bool ageGiven() const { return m_ageGiven; }
    bool genderGiven() const { return m_genderGiven; }
    bool majorGiven() const { return m_majorGiven; }

    // Appends the datSubject row from the session and the controls.
    void RecordSubject();

    // Ignored while the row is being stored (the store may process window events while it
    // waits for a lock); otherwise closes the screen as Cancel does.
    void reject() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private slots:
    void btnBegin_Click();
    void btnCancel_Click();

private:
    void UpdateBegin();
    bool ageKeyPress(QKeyEvent* key);
    void begin();

    Session& m_session;
    QString m_versionBoxText;

    QLabel* m_tagAge;
    QLineEdit* m_txtAge;
    QGroupBox* m_fraGender;
    QRadioButton* m_optFemale;
    QRadioButton* m_optMale;
    QComboBox* m_cboMajor;
    QPushButton* m_btnBegin;
    QPushButton* m_btnCancel;

    bool m_ageGiven = false;
    bool m_genderGiven = false;
    bool m_majorGiven = false;
    bool m_cleared = false;
    bool m_recording = false;
};

} // namespace aquilevel

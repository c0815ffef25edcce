#include "session/RegistrationScreen.h"

#include "session/Clock.h"
#include "session/ProcessEnd.h"
#include "session/Prompter.h"
#include "session/Registrations.h"
#include "session/Session.h"

#include <QComboBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QScopedValueRollback>
#include <QVBoxLayout>

namespace aquilevel {

namespace {

// Ages have at most three digits; a longer run of digits is a slip of the finger.
constexpr int kAgeDigits = 3;

bool isGiven(const QString& text)
{
    return !text.trimmed().isEmpty();
}

} // namespace

const QStringList& RegistrationScreen::majors()
{
    static const QStringList list = {
        QStringLiteral(QT_TR_NOOP("Architecture")),
        QStringLiteral(QT_TR_NOOP("Art")),
        QStringLiteral(QT_TR_NOOP("Biological Sciences")),
        QStringLiteral(QT_TR_NOOP("Business")),
        QStringLiteral(QT_TR_NOOP("Chemical Engineering")),
        QStringLiteral(QT_TR_NOOP("Chemistry")),
        QStringLiteral(QT_TR_NOOP("Civil & Environmental Engineering")),
        QStringLiteral(QT_TR_NOOP("Computer Science")),
        QStringLiteral(QT_TR_NOOP("Design")),
        QStringLiteral(QT_TR_NOOP("Drama")),
        QStringLiteral(QT_TR_NOOP("Economics")),
        QStringLiteral(QT_TR_NOOP("Electrical & Computer Engineering")),
        QStringLiteral(QT_TR_NOOP("Engineering & Public Policy")),
        QStringLiteral(QT_TR_NOOP("English")),
        QStringLiteral(QT_TR_NOOP("History")),
        QStringLiteral(QT_TR_NOOP("Information Systems")),
        QStringLiteral(QT_TR_NOOP("Materials Science & Engineering")),
        QStringLiteral(QT_TR_NOOP("Mathematical Sciences")),
        QStringLiteral(QT_TR_NOOP("Mechanical Engineering")),
        QStringLiteral(QT_TR_NOOP("Music")),
        QStringLiteral(QT_TR_NOOP("Modern Languages")),
        QStringLiteral(QT_TR_NOOP("Philosophy")),
        QStringLiteral(QT_TR_NOOP("Physics")),
        QStringLiteral(QT_TR_NOOP("Psychology")),
        QStringLiteral(QT_TR_NOOP("Cognitive Science")),
        QStringLiteral(QT_TR_NOOP("Statistics")),
        QStringLiteral(QT_TR_NOOP("Other")),
    };
    return list;
}

RegistrationScreen::RegistrationScreen(Session& session, const QString& versionBoxText,
                                       QWidget* parent)
    : SessionDialog(parent), m_session(session), m_versionBoxText(versionBoxText)
{
    setObjectName(QStringLiteral("frmSubjectInfo"));
    setWindowTitle(tr("Subject Info: %1").arg(session.state.Subject));
    setModal(true);

    m_tagAge = new QLabel(tr("Age:"), this);
    m_tagAge->setObjectName(QStringLiteral("tagAge"));
    m_txtAge = new QLineEdit(this);
    m_txtAge->setObjectName(QStringLiteral("txtAge"));
    m_txtAge->setMaxLength(kAgeDigits);
    m_tagAge->setBuddy(m_txtAge);
    // Text reaches the age box only through typed keys: no paste from a menu, no drops,
    // no composed input.
    m_txtAge->setContextMenuPolicy(Qt::NoContextMenu);
    m_txtAge->setAcceptDrops(false);
    m_txtAge->setAttribute(Qt::WA_InputMethodEnabled, false);
    m_txtAge->installEventFilter(this);

    m_fraGender = new QGroupBox(tr("Gender"), this);
    m_fraGender->setObjectName(QStringLiteral("fraGender"));
    m_optFemale = new QRadioButton(tr("Female"), m_fraGender);
    m_optFemale->setObjectName(QStringLiteral("optFemale"));
    m_optMale = new QRadioButton(tr("Male"), m_fraGender);
    m_optMale->setObjectName(QStringLiteral("optMale"));
    auto* genderLayout = new QHBoxLayout(m_fraGender);
    genderLayout->addWidget(m_optFemale);
    genderLayout->addWidget(m_optMale);

    m_cboMajor = new QComboBox(this);
    m_cboMajor->setObjectName(QStringLiteral("cboMajor"));
    m_cboMajor->setEditable(true);
    // The list stays as it is (Enter does not add the typed text), and what is typed is
    // kept as typed (no completion from the list).
    m_cboMajor->setInsertPolicy(QComboBox::NoInsert);
    m_cboMajor->setCompleter(nullptr);
    // Shown in the participant's language, stored as the list's own (English) entry.
    for (const QString& major : majors())
        m_cboMajor->addItem(tr(major.toUtf8().constData()), major);
    m_cboMajor->setCurrentIndex(-1);
    m_cboMajor->setEditText(tr("Major"));

    m_btnBegin = addPlainButton(QStringLiteral("btnBegin"), tr("Begin"));
    m_btnBegin->setEnabled(false);
    m_btnCancel = addPlainButton(QStringLiteral("btnCancel"), tr("Cancel"));

    // The version chosen at the login, for the experimenter to see before Begin.
    auto* versionTag = new QLabel(tr("Version:"), this);
    versionTag->setObjectName(QStringLiteral("lblVersion"));
    auto* versionName = new QLabel(session.state.Version, this);
    versionName->setObjectName(QStringLiteral("lblVersionName"));
    versionName->setTextFormat(Qt::PlainText);

    auto* fields = new QGridLayout;
    fields->addWidget(versionTag, 0, 0);
    fields->addWidget(versionName, 0, 1);
    fields->addWidget(m_tagAge, 1, 0);
    fields->addWidget(m_txtAge, 1, 1);
    fields->addWidget(m_fraGender, 2, 0, 1, 2);
    fields->addWidget(m_cboMajor, 3, 0, 1, 2);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_btnBegin);
    buttons->addWidget(m_btnCancel);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(fields);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    setTabOrder(m_txtAge, m_optFemale);
    setTabOrder(m_optFemale, m_optMale);
    setTabOrder(m_optMale, m_cboMajor);
    setTabOrder(m_cboMajor, m_btnBegin);
    setTabOrder(m_btnBegin, m_btnCancel);
    m_txtAge->setFocus();

    // Connected after the controls are filled: the text "Major" put in above is not a
    // given major.
    connect(m_txtAge, &QLineEdit::textChanged, this, [this](const QString& text) {
        m_ageGiven = isGiven(text);
        UpdateBegin();
    });
    for (QRadioButton* option : {m_optFemale, m_optMale}) {
        connect(option, &QRadioButton::toggled, this, [this](bool checked) {
            if (!checked)
                return;
            m_genderGiven = true;
            UpdateBegin();
        });
    }
    const auto majorChanged = [this] {
        m_majorGiven = isGiven(m_cboMajor->currentText());
        UpdateBegin();
    };
    connect(m_cboMajor, &QComboBox::editTextChanged, this, majorChanged);
    connect(m_cboMajor, &QComboBox::activated, this, majorChanged);

    connect(m_btnBegin, &QPushButton::clicked, this, &RegistrationScreen::btnBegin_Click);
    connect(m_btnCancel, &QPushButton::clicked, this, &RegistrationScreen::btnCancel_Click);
}

bool RegistrationScreen::ask(Session& session, const QString& versionBoxText, QWidget* parent)
{
    RegistrationScreen screen(session, versionBoxText, parent);
    screen.execModal();
    return screen.Cleared();
}

void RegistrationScreen::UpdateBegin()
{
    m_btnBegin->setEnabled(m_ageGiven && m_genderGiven && m_majorGiven);
}

void RegistrationScreen::RecordSubject()
{
    // A field of the list is stored as the list's English entry, whatever language it
    // was shown in, so that the data of all stations read alike; a typed one as typed.
    const QString shown = m_cboMajor->currentText();
    const int listed = m_cboMajor->findText(shown, Qt::MatchExactly);
    const QString major = listed >= 0 ? m_cboMajor->itemData(listed).toString() : shown;
    // The box holds digits only, so the number is the whole text.
    RecordParticipant(m_session, m_versionBoxText,
                      {major, m_optMale->isChecked() ? QStringLiteral("Male") : QStringLiteral("Female"),
                       m_txtAge->text().toDouble()});
}

void RegistrationScreen::begin()
{
    // The store may process window events while it waits for a lock; a second Begin
    // then must not store a second row.
    if (m_recording || !m_btnBegin->isEnabled())
        return;
    const QScopedValueRollback recording(m_recording, true);

    try {
        RecordSubject();
    } catch (const HoldLost& lost) {
        // Another station took the name meanwhile: back to the login, nothing stored.
        m_session.prompter().inform(kProgramTitle, QString::fromStdString(lost.what()), Prompter::Icon::Exclamation);
        reject();
        return;
    }
    m_cleared = true;
    accept();
}


void RegistrationScreen::btnBegin_Click()
{
    guarded([this] { begin(); });
}

void RegistrationScreen::btnCancel_Click()
{
    reject();
}

void RegistrationScreen::reject()
{
    if (m_recording)
        return;
    QDialog::reject();
}

void RegistrationScreen::keyPressEvent(QKeyEvent* event)
{
    // No button is a default button; Enter presses the button that has the focus.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        auto* button = qobject_cast<QPushButton*>(focusWidget());
        if (button && button->isEnabled() && (button == m_btnBegin || button == m_btnCancel))
            button->click();
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

bool RegistrationScreen::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != m_txtAge)
        return QDialog::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::KeyPress:
        return ageKeyPress(static_cast<QKeyEvent*>(event));
    case QEvent::InputMethod:
        return true;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
        // The middle button pastes the selection on some desktops.
        return static_cast<QMouseEvent*>(event)->button() == Qt::MiddleButton;
    default:
        return QDialog::eventFilter(watched, event);
    }
}

// Returns true when the key is swallowed.
bool RegistrationScreen::ageKeyPress(QKeyEvent* key)
{
    if (key->matches(QKeySequence::Paste))
        return true;

    const int code = key->key();
    if (code == Qt::Key_Return || code == Qt::Key_Enter) {
        if (m_btnBegin->isEnabled())
            guarded([this] { begin(); });
        return true;
    }
    if (code == Qt::Key_Backspace)
        return false;

    const Qt::KeyboardModifiers shortcut =
        key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    const QString text = key->text();
    const bool character = (!text.isEmpty() && text.at(0).isPrint()) ||
                           (shortcut && code >= Qt::Key_Space && code <= Qt::Key_AsciiTilde);
    if (!character)
        return false; // arrows, Home, End, Delete, Tab, Escape: as usual

    // From here on only a digit typed on its own is taken: Ctrl+A, Ctrl+Z and the other
    // editing shortcuts are character keys as well, and are swallowed.
    if (shortcut || text.size() != 1)
        return true;
    const QChar c = text.at(0);
    if (c < QLatin1Char('0') || c > QLatin1Char('9'))
        return true;
    if (c == QLatin1Char('0') && m_txtAge->text().isEmpty())
        return true; // no leading zero
    if (m_txtAge->text() == QStringLiteral("0"))
        m_txtAge->clear();
    return false;
}

} // namespace aquilevel

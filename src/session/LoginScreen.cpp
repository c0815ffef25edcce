#include "session/LoginScreen.h"

#include "config/ControlCharacters.h"
#include "session/EndGame.h"
#include "session/ProcessEnd.h"
#include "session/Prompter.h"
#include "session/RegistrationScreen.h"
#include "session/Registrations.h"
#include "session/Resume.h"
#include "session/Session.h"
#include "session/StartVersion.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>

#include <optional>
#include <utility>

namespace aquilevel {


LoginScreen::LoginScreen(Session& session, QWidget* parent)
    : SessionDialog(parent), m_session(session)
{
    setObjectName(QStringLiteral("frmLogin"));
    setWindowTitle(tr("Welcome"));

    auto* lblLogin = new QLabel(tr("Login: "), this);
    lblLogin->setObjectName(QStringLiteral("lblLogin"));
    m_txtName = new QLineEdit(this);
    m_txtName->setObjectName(QStringLiteral("txtName"));
    auto* lblVersion = new QLabel(tr("Version:"), this);
    lblVersion->setObjectName(QStringLiteral("lblVersion"));
    m_cboVersion = new QComboBox(this);
    m_cboVersion->setObjectName(QStringLiteral("cboVersion"));
    m_cboVersion->setEditable(true);
    m_cboVersion->setInsertPolicy(QComboBox::NoInsert);
    m_cboVersion->addItems(session.state.versions);
    if (m_cboVersion->count() > 0)
        m_cboVersion->setCurrentIndex(0);
    m_cboVersion->setMinimumContentsLength(18);
    // Enter is handled by the boxes themselves, not by a default button.
    m_cmdStart = addPlainButton(QStringLiteral("cmdStart"), tr("Start"));
    m_cmdStart->setEnabled(false);
    m_cmdQuit = addPlainButton(QStringLiteral("cmdQuit"), tr("Quit"));

    auto* row = new QHBoxLayout;
    row->addWidget(lblLogin);
    row->addWidget(m_txtName, 1);
    row->addWidget(lblVersion);
    row->addWidget(m_cboVersion, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_cmdStart);
    buttons->addWidget(m_cmdQuit);
    buttons->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addLayout(buttons);

    setTabOrder(m_txtName, m_cboVersion);
    setTabOrder(m_cboVersion, m_cmdStart);
    setTabOrder(m_cmdStart, m_cmdQuit);

    connect(m_txtName, &QLineEdit::textChanged, this, [this](const QString& text) {
        m_cmdStart->setEnabled(!text.trimmed().isEmpty());
    });
    connect(m_cmdStart, &QPushButton::clicked, this, [this] { guarded([this] { start(); }); });
    connect(m_cmdQuit, &QPushButton::clicked, this, [this] { guarded([this] { quit(); }); });
    m_txtName->installEventFilter(this);
    m_cboVersion->installEventFilter(this);
    if (m_cboVersion->lineEdit())
        m_cboVersion->lineEdit()->installEventFilter(this);
}

void LoginScreen::run(Session& session)
{
    LoginScreen login(session);
    session.presence().atLogin();
    const auto goingOn = [&session] { session.presence().inSession(session.state.Subject, session.state.Version); };
    for (;;) {
        const int outcome = login.execModal();
        if (outcome == Begin)
            return goingOn();
        if (outcome != Register)
            continue; // the login only closes by Start or by ending the session
        // A new name registers; Cancel brings the login back with the name selected.
        if (RegistrationScreen::ask(session, login.m_cboVersion->currentText(), nullptr))
            return goingOn();
        session.hold().release();
        session.presence().atLogin();
        login.m_txtName->selectAll();
        login.m_txtName->setFocus();
    }
}

bool LoginScreen::eventFilter(QObject* watched, QEvent* event)
{
    const bool inVersionBox = watched == m_cboVersion || watched == m_cboVersion->lineEdit();
    if (event->type() == QEvent::FocusOut && inVersionBox) {
        validateVersion();
        return false;
    }
    if (event->type() != QEvent::KeyPress)
        return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
    if (!enter || !m_cmdStart->isEnabled())
        return false;
    if (inVersionBox)
        validateVersion(); // the typed version is checked before Start reads it
    guarded([this] { start(); });
    return true;
}


bool LoginScreen::validateVersion()
{
    const QString typed = m_cboVersion->currentText();
    for (int i = 0; i < m_cboVersion->count(); ++i) {
        if (m_cboVersion->itemText(i).compare(typed, Qt::CaseInsensitive) == 0) {
            m_cboVersion->setCurrentIndex(i);
            m_cboVersion->setEditText(m_cboVersion->itemText(i));
            return true;
        }
    }
    // A typo stays where it can be seen and mended: it never becomes another version.
    return m_cboVersion->count() == 0;
}

void LoginScreen::start()
{
    if (!m_cmdStart->isEnabled())
        return;
    if (!validateVersion()) {
        QStringList versions;
        for (int i = 0; i < m_cboVersion->count(); ++i)
            versions.append(m_cboVersion->itemText(i));
        m_session.prompter().inform(kProgramTitle,
                                    tr("There is no version \"%1\". The versions are: %2.")
                                        .arg(m_cboVersion->currentText(), versions.join(QStringLiteral(", "))),
                                    Prompter::Icon::Exclamation);
        m_cboVersion->setFocus();
        if (m_cboVersion->lineEdit())
            m_cboVersion->lineEdit()->selectAll();
        return;
    }
    SessionState& s = m_session.state;
    // Every name starts from a clean state: nothing restored for an earlier name stays.
    SessionState fresh;
    fresh.versions = s.versions;
    fresh.Subject = m_txtName->text().trimmed();
    fresh.Version = m_cboVersion->currentText();
    s = fresh;
    m_txtName->selectAll();
    m_txtName->setFocus();

    // Whole sentences, one for each box, so that a translation can decline the noun.
    for (const auto& [text, refusal] :
         {std::pair{s.Subject, tr("The login name must not contain control characters (such as a tab or an "
                                  "escape). Please type it again.")},
          std::pair{s.Version, tr("The version must not contain control characters (such as a tab or an "
                                  "escape). Please type it again.")}}) {
        if (config::hasControlCharacters(text)) {
            m_session.prompter().inform(kProgramTitle, refusal, Prompter::Icon::Exclamation);
            return;
        }
    }

    LoadCheckedSetup(m_session);

    // One participant plays a version at one station at a time.
    if (const std::optional<QString> refusal = m_session.hold().take(s.Subject, s.Version)) {
        m_session.prompter().inform(kProgramTitle, *refusal, Prompter::Icon::Exclamation);
        return;
    }
    // Given up again unless the session goes on from here (a failure included).
    auto holdUnlessGoingOn = qScopeGuard([this] { m_session.hold().release(); });

    switch (CheckNewSubject()) {
    case Check::Unreadable:
        return;
    case Check::New:
        holdUnlessGoingOn.dismiss();
        done(Register);
        return;
    case Check::Returning:
        break;
    }
    // The last period reached (perhaps interrupted): there is no question to ask.
    // The start-up finishes the session: the last period (in time-driven play the rest
    // of it, up to the clock's tick), the questionnaire when it was not answered, the
    // earnings message.
    // A name known only by its rows gets its registration row once its session goes on,
    // as every participant has one.
    const auto goOn = [&] {
        if (!m_registered) {
            try {
                RecordParticipant(m_session, s.Version);
            } catch (const HoldLost& lost) { // another station took the name meanwhile
                m_session.prompter().inform(kProgramTitle, QString::fromStdString(lost.what()),
                                            Prompter::Icon::Exclamation);
                return;
            }
        }
        holdUnlessGoingOn.dismiss();
        done(Begin);
    };
    if (s.Trial >= s.setup.MaxTrial) {
        goOn();
        return;
    }
    const bool resume = m_session.prompter().confirm(
        tr("Login %1 already used").arg(s.Subject),
        tr("Continue with Trial #%1").arg(qint64(s.Trial) + 1));
    if (resume)
        goOn();
}

LoginScreen::Check LoginScreen::CheckNewSubject()
{
    SessionState& s = m_session.state;
    // Names are matched without regard to letter case, in every script; the session then
    // goes on under the spelling it was registered with, so that all its rows carry it
    // and the resume finds them.
    // A name with rows but no registration row (a database of an older program, a
    // scripted session killed before it registered) is no new name either: taking it as
    // new would start a second session at EventID 1 beside the first one's rows.
    const std::optional<KnownName> known = FindParticipant(m_session.store(), s.Version, s.Subject);
    if (!known) {
        s.IsNewSubject = true;
        return Check::New;
    }
    s.Subject = known->spelling;
    m_registered = known->registered;
    try {
        s.Trial = RestoreLastState(m_session, kEventLogTable);
    } catch (const SessionOver&) {
        throw;
    } catch (const std::exception& error) {
        // Treating the name as new would register the same person twice and mix two
        // sessions under one name: say so and stay here, writing nothing.
        m_session.prompter().inform(kProgramTitle, QString::fromStdString(error.what()),
                                    Prompter::Icon::Exclamation);
        return Check::Unreadable;
    }
    s.IsNewSubject = false;
    return Check::Returning;
}

void LoginScreen::quit()
{
    m_session.state.LoginQuit = true;
    EndGame(m_session);
}

void LoginScreen::reject()
{
    // Escape does nothing here; Quit is the way out.
}

void LoginScreen::closeEvent(QCloseEvent* event)
{
    // The close box counts as Quit.
    event->ignore();
    guarded([this] { quit(); });
}

} // namespace aquilevel

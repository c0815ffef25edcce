#include "tools/PilotPanel.h"

#include "config/ExperimentSetup.h"
#include "store/DataLocation.h"
#include "store/Engine.h"
#include "store/EngineError.h"
#include "store/TableRows.h"
#include "store/Tables.h"
#include "tools/Printable.h"
#include "tools/Progress.h"
#include "tools/SessionReport.h"
#include "tools/ToolCommand.h"
#include "tools/VersionEditor.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QDoubleSpinBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QVBoxLayout>

#include <cmath>

#include <csignal>
#include <sys/prctl.h>

namespace aquilevel::tools {

namespace {

const QString kSubject = QStringLiteral("pilot");
// A participant-paced period of the bot (every animation stage at 1 ms) takes about 20 ms
// (a debug build, 20 periods in 0.45 s with the start); a little more is said.
constexpr double kBotPeriodSeconds = 0.05;

QString duration(double seconds)
{
    if (seconds < 90)
        return QStringLiteral("%1 s").arg(std::max(1, int(std::ceil(seconds))));
    if (seconds < 5400)
        return QStringLiteral("%1 min").arg(int(std::ceil(seconds / 60)));
    return QStringLiteral("%1 h").arg(seconds / 3600, 0, 'f', 1);
}

// A new encrypted file holding only the version's configuration.
void createCopy(const QString& path, const VersionRows& rows)
{
    const auto copy = [](store::Connection& c, const char* table, const QList<store::Row>& list) {
        for (const store::Row& row : list)
            store::appendRow(c, *store::findTable(QString::fromLatin1(table)), row.columns(), row.values());
    };
    store::engineAt(path)->create([&](store::Connection& c) {
        copy(c, "tblSetup", {rows.setup});
        copy(c, "tblLabels", rows.labels);
        copy(c, "tblInstructions", rows.pages);
        copy(c, "tblScenarios", rows.scenario);
    });
}

} // namespace

PilotPanel::PilotPanel(VersionEditor& editor, QWidget* parent)
    : QWidget(parent), m_editor(editor), m_program(QCoreApplication::applicationFilePath())
{
    setObjectName(QStringLiteral("frmPilot"));
    auto* layout = new QVBoxLayout(this);
    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel(QStringLiteral("Bot:"), this));
    m_policy = new QComboBox(this);
    m_policy->setObjectName(QStringLiteral("cboPolicy"));
    m_policy->addItem(QStringLiteral("hold: orders back what the environment took"), QStringLiteral("hold"));
    m_policy->addItem(QStringLiteral("anchor: steers to the goal"), QStringLiteral("anchor"));
    row->addWidget(m_policy);
    const auto weight = [&](const QString& name, const QString& label, double value, const QString& tip) {
        row->addWidget(new QLabel(label, this));
        auto* spin = new QDoubleSpinBox(this);
        spin->setObjectName(name);
        spin->setRange(0, 10);
        spin->setSingleStep(0.1);
        spin->setDecimals(2);
        spin->setValue(value);
        spin->setToolTip(tip);
        row->addWidget(spin);
        return spin;
    };
    m_alpha = weight(QStringLiteral("numAlpha"), QStringLiteral("alpha"), 0.5,
                     QStringLiteral("The anchor's weight of the gap to the goal"));
    m_beta = weight(QStringLiteral("numBeta"), QStringLiteral("beta"), 0.3,
                    QStringLiteral("The anchor's weight of the orders on their way"));
    m_fastClock = new QCheckBox(QStringLiteral("fast clock (%1 ms a period)").arg(kFastClockMs), this);
    m_fastClock->setObjectName(QStringLiteral("chkFastClock"));
    m_fastClock->setChecked(true);
    m_fastClock->setToolTip(QStringLiteral("A time-driven version's clock runs at this pace instead of its "
                                           "TimeBetweenEnvTries"));
    row->addWidget(m_fastClock);
    row->addStretch();
    m_run = new QPushButton(QStringLiteral("Pilot"), this);
    m_run->setObjectName(QStringLiteral("cmdPilot"));
    m_run->setToolTip(QStringLiteral("Plays the version as edited with the bot, in a throwaway copy: the lab's "
                                     "database is not touched"));
    row->addWidget(m_run);
    m_stop = new QPushButton(QStringLiteral("Stop"), this);
    m_stop->setObjectName(QStringLiteral("cmdStopPilot"));
    m_stop->setEnabled(false);
    row->addWidget(m_stop);
    layout->addLayout(row);
    m_time = new QLabel(this);
    m_time->setObjectName(QStringLiteral("lblPilotTime"));
    m_time->setWordWrap(true);
    layout->addWidget(m_time);
    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("barPilot"));
    m_progress->setRange(0, 1);
    m_progress->setValue(0);
    m_progress->setFormat(QStringLiteral("period %v of %m"));
    m_progress->setTextVisible(false);
    layout->addWidget(m_progress);
    m_result = new QLabel(this);
    m_result->setObjectName(QStringLiteral("lblPilotResult"));
    m_result->setWordWrap(true);
    m_result->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_result);
    m_picture = new QLabel(this);
    m_picture->setObjectName(QStringLiteral("imgPilot"));
    m_picture->setAlignment(Qt::AlignCenter);
    m_picture->setMinimumSize(320, 200);
    layout->addWidget(m_picture, 1);

    const auto policyChanged = [this] {
        const bool anchor = m_policy->currentData().toString() == QLatin1String("anchor");
        m_alpha->setEnabled(anchor);
        m_beta->setEnabled(anchor);
    };
    connect(m_policy, &QComboBox::currentIndexChanged, this, policyChanged);
    policyChanged();
    connect(m_fastClock, &QCheckBox::toggled, this, &PilotPanel::describe);
    connect(m_run, &QPushButton::clicked, this, &PilotPanel::start);
    connect(m_stop, &QPushButton::clicked, this, &PilotPanel::stop);
    connect(&m_editor, &VersionEditor::loaded, this, [this] {
        if (!isRunning()) {
            m_picture->clear();
            say(QString(), false);
        }
        describe();
    });
    describe();
}

PilotPanel::~PilotPanel()
{
    if (m_process) {
        m_process->disconnect(this);
        m_process->kill();
        m_process->waitForFinished(3000);
    }
}

bool PilotPanel::isRunning() const
{
    return m_process != nullptr;
}

QString PilotPanel::result() const
{
    return m_result->text();
}

// How long a pilot will take: a time-driven version plays at its clock.
void PilotPanel::describe()
{
    bool whole = false;
    const int periods = m_editor.fieldText(QStringLiteral("MaxTrial")).toInt(&whole);
    const bool timeDriven = m_editor.fieldText(QStringLiteral("IsTimeDriven")) == QLatin1String("1");
    bool number = false;
    const double interval = m_editor.fieldText(QStringLiteral("TimeBetweenEnvTries")).toDouble(&number);
    m_fastClock->setVisible(timeDriven);
    m_run->setEnabled(!isRunning() && !m_editor.version().isEmpty());
    if (m_editor.version().isEmpty() || !whole || periods < 1) {
        m_time->setText(QString());
        return;
    }
    if (!timeDriven) {
        m_time->setText(QStringLiteral("Participant-paced: the bot plays the %1 periods as fast as the screen goes "
                                       "on, in about %2.")
                            .arg(periods)
                            .arg(duration(periods * kBotPeriodSeconds + 2)));
        return;
    }
    const QString own = number && interval > 0
                            ? QStringLiteral("at its own clock (%1 ms a period) a pilot takes about %2")
                                  .arg(interval)
                                  .arg(duration(periods * interval / 1000 + 2))
                            : QStringLiteral("its own clock cannot be read");
    m_time->setText(QStringLiteral("Time-driven: %1; with the fast clock about %2.")
                        .arg(own)
                        .arg(duration(periods * kFastClockMs / 1000.0 + 2)));
}

bool PilotPanel::start()
{
    if (isRunning())
        return false;
    const std::optional<VersionRows> rows = m_editor.edited();
    if (!rows) {
        say(m_editor.version().isEmpty() ? QStringLiteral("Select a version to play.")
                                         : QStringLiteral("The edit has problems (marked in the form): nothing was "
                                                          "played."),
            true);
        return false;
    }
    describe();
    m_playedVersion = rows->setup.value("Version").toString();
    m_folder = std::make_unique<QTemporaryDir>(QDir::temp().filePath(QStringLiteral("aquilevel-pilot-XXXXXX")));
    if (!m_folder->isValid()) {
        say(QStringLiteral("Cannot create a temporary folder: %1").arg(m_folder->errorString()), true);
        m_folder.reset();
        return false;
    }
    m_database = store::databasePath(m_folder->path());
    try {
        createCopy(m_database, *rows);
    } catch (const std::exception& error) {
        say(QStringLiteral("Could not create the pilot's copy: %1").arg(QString::fromUtf8(error.what())), true);
        m_folder.reset();
        return false;
    }

    QStringList arguments = {QStringLiteral("--data"), m_folder->path(), QStringLiteral("bot"),
                             QStringLiteral("--version"), m_playedVersion, QStringLiteral("--subject"), kSubject,
                             QStringLiteral("--db"), m_database, QStringLiteral("--policy"),
                             m_policy->currentData().toString()};
    if (m_policy->currentData().toString() == QLatin1String("anchor"))
        arguments << QStringLiteral("--alpha") << QString::number(m_alpha->value()) << QStringLiteral("--beta")
                  << QString::number(m_beta->value());
    if (config::isYes(rows->setup.value("IsTimeDriven")) && m_fastClock->isChecked())
        arguments << QStringLiteral("--clock") << QString::number(kFastClockMs);
    m_process = new QProcess(this);
    // The lab's server is never the bot's: it plays into the copy alone.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("AQUILEVEL_SERVER"));
    m_process->setProcessEnvironment(environment);
    // Ends with the console, should that be killed: no bot plays on alone.
    m_process->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    m_errors.clear();
    m_periods = 0;
    connect(m_process, &QProcess::readyReadStandardError, this, [this] {
        static const QRegularExpression period(QStringLiteral("period (\\d+) of (\\d+)"));
        const QString text = QString::fromUtf8(m_process->readAllStandardError());
        m_errors += text;
        QRegularExpressionMatchIterator found = period.globalMatch(text);
        while (found.hasNext()) {
            const QRegularExpressionMatch m = found.next();
            m_progress->setRange(0, m.captured(2).toInt());
            m_progress->setValue(m.captured(1).toInt());
            m_progress->setTextVisible(true);
        }
    });
    connect(m_process, &QProcess::finished, this,
            [this](int exitCode, QProcess::ExitStatus status) { done(exitCode, status == QProcess::CrashExit); });
    connect(m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) {
            m_errors = QStringLiteral("%1 could not be started: %2").arg(m_program, m_process->errorString());
            done(-1, true);
        }
    });
    m_progress->setRange(0, 0); // busy until the first period is reported
    m_progress->setTextVisible(false);
    m_picture->clear();
    m_run->setEnabled(false);
    m_stop->setEnabled(true);
    say(QStringLiteral("Playing %1 with the %2 bot in a throwaway copy...")
            .arg(printable(m_playedVersion), m_policy->currentData().toString()),
        false);
    m_process->start(m_program, arguments);
    return true;
}

void PilotPanel::stop()
{
    if (m_process)
        m_process->kill(); // finished() follows and cleans up
}

void PilotPanel::done(int exitCode, bool crashed)
{
    if (!m_process)
        return;
    m_process->disconnect(this);
    m_errors += QString::fromUtf8(m_process->readAllStandardError());
    m_process->deleteLater();
    m_process = nullptr;
    bool played = false;
    if (exitCode == 0 && !crashed) {
        try {
            ToolStore copy(store::engineAt(m_database));
            const SessionData data = loadSession(copy.store(), m_playedVersion, kSubject);
            m_picture->setPixmap(QPixmap::fromImage(drawSession(data, m_picture->size().expandedTo({320, 200}))));
            say(QStringLiteral("Earned %1 in %2 of %3 periods, %4 of them in the band (%5 bot).")
                    .arg(formatMoney(data.earnings))
                    .arg(data.periods.size())
                    .arg(data.maxTrial)
                    .arg(data.periodsInBand())
                    .arg(m_policy->currentData().toString()),
                false);
            played = true;
        } catch (const std::exception& error) {
            say(QStringLiteral("The pilot's session cannot be read: %1").arg(QString::fromUtf8(error.what())), true);
        }
    } else {
        // The bot's own words: its last line that is not a period's.
        QStringList lines;
        for (const QString& line : m_errors.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            if (!line.trimmed().startsWith(QStringLiteral("period ")) && !line.startsWith(QStringLiteral("Playing version")))
                lines.append(line.trimmed());
        say(crashed && lines.isEmpty() ? QStringLiteral("The pilot was stopped.")
                                       : QStringLiteral("The pilot failed: %1")
                                             .arg(lines.isEmpty() ? QStringLiteral("exit status %1").arg(exitCode)
                                                                  : lines.join(QLatin1Char('\n'))),
            true);
    }
    m_folder.reset(); // the copy goes with its folder
    m_database.clear();
    m_progress->setRange(0, 1);
    m_progress->setValue(played ? 1 : 0);
    m_progress->setTextVisible(false);
    m_stop->setEnabled(false);
    describe();
    emit finished(played);
}

void PilotPanel::say(const QString& text, bool bad)
{
    m_result->setText(text);
    m_result->setStyleSheet(bad ? QStringLiteral("color: rgb(190, 0, 0);") : QString());
}

} // namespace aquilevel::tools

#include "tools/ConsoleWindow.h"

#include "session/ExperimenterAccounts.h"
#include "session/StationHold.h"
#include "store/EngineError.h"
#include "store/Store.h"
#include "tools/Printable.h"
#include "tools/CheckCommand.h"
#include "tools/ExportImport.h"
#include "tools/Progress.h"
#include "tools/StationsModel.h"
#include "tools/SessionReport.h"
#include "tools/ToolCommand.h"
#include "tools/PilotPanel.h"
#include "tools/VersionEditor.h"

#include <QApplication>
#include <QDateEdit>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QLineEdit>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSplitter>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace aquilevel::tools {

namespace {

QString readFailure(const std::exception& error)
{
    return QStringLiteral("Could not read the database just now: %1").arg(QString::fromUtf8(error.what()));
}

// The experimenter's user name and password, asked in a small dialog.
ConsoleWindow::Credentials askInDialog(QWidget* parent)
{
    QDialog dialog(parent);
    dialog.setWindowTitle(QStringLiteral("Experimenter"));
    auto* form = new QFormLayout(&dialog);
    auto* user = new QLineEdit(&dialog);
    auto* password = new QLineEdit(&dialog);
    password->setEchoMode(QLineEdit::Password);
    form->addRow(QStringLiteral("Username"), user);
    form->addRow(QStringLiteral("Password"), password);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    form->addRow(buttons);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return std::make_pair(user->text(), password->text());
}

} // namespace

ConsoleWindow::ConsoleWindow(store::Store& store, std::function<QDateTime()> now, int refreshMs, QWidget* parent)
    : QMainWindow(parent), m_store(store), m_now(std::move(now))
{
    setObjectName(QStringLiteral("frmConsole"));
    setWindowTitle(QStringLiteral("Aquilevel lab console"));
    auto* tabs = new QTabWidget(this);
    tabs->setObjectName(QStringLiteral("tabConsole"));
    setCentralWidget(tabs);

    // The stations, live.
    m_stations = new StationsModel(this);
    m_stationsView = new QTableView(tabs);
    m_stationsView->setObjectName(QStringLiteral("tblStations"));
    m_stationsView->setModel(m_stations);
    connect(m_stationsView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { showSessionOf(selectedStation()); });
    m_stationsView->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_stationsView->horizontalHeader()->setStretchLastSection(true);
    m_stationsView->verticalHeader()->hide();
    m_stationsView->setSelectionMode(QAbstractItemView::SingleSelection);
    auto* live = new QSplitter(tabs);
    live->addWidget(m_stationsView);
    auto* side = new QWidget(live);
    auto* sideLayout = new QVBoxLayout(side);
    // The selected participant's tank against the goal and its band, period by period.
    m_session = new QLabel(side);
    m_session->setObjectName(QStringLiteral("imgSession"));
    m_session->setMinimumSize(320, 200);
    m_session->setAlignment(Qt::AlignCenter);
    m_session->setWordWrap(true);
    sideLayout->addWidget(m_session, 1);
    m_release = new QPushButton(QStringLiteral("Release hold..."), side);
    m_release->setObjectName(QStringLiteral("cmdRelease"));
    m_release->setToolTip(QStringLiteral("Lets the participant log in at another station; only for a station "
                                         "that no longer runs."));
    sideLayout->addWidget(m_release);
    live->addWidget(side);
    live->setStretchFactor(0, 3);
    live->setStretchFactor(1, 2);
    tabs->addTab(live, QStringLiteral("Stations"));
    m_askCredentials = [this] { return askInDialog(this); };
    connect(m_release, &QPushButton::clicked, this, &ConsoleWindow::releaseSelected);

    // The versions and what check says of each.
    auto* versions = new QSplitter(tabs);
    m_versions = new QListWidget(versions);
    m_versions->setObjectName(QStringLiteral("lstVersions"));
    // What check says of the selected version above, the version to edit or pilot below.
    auto* version = new QSplitter(Qt::Vertical, versions);
    m_problems = new QPlainTextEdit(version);
    m_problems->setObjectName(QStringLiteral("txtProblems"));
    m_problems->setReadOnly(true);
    auto* work = new QTabWidget(version);
    m_editor = new VersionEditor(m_store, work);
    m_editor->setCredentialsSource([this] { return m_askCredentials(); });
    work->addTab(m_editor, QStringLiteral("Edit"));
    work->addTab(new PilotPanel(*m_editor, work), QStringLiteral("Pilot"));
    version->setStretchFactor(1, 5);
    version->setSizes({100, 600});
    versions->setStretchFactor(1, 5);
    versions->setSizes({200, 1000});
    connect(m_versions, &QListWidget::currentRowChanged, this, &ConsoleWindow::showProblemsOf);
    connect(m_versions, &QListWidget::currentRowChanged, this, [this](int row) {
        const QListWidgetItem* item = m_versions->item(row);
        if (!item || item->data(Qt::UserRole).toString() != m_editor->version())
            m_editor->load(item ? item->data(Qt::UserRole).toString() : QString());
    });
    // A saved version is checked again with every other, and stays selected.
    connect(m_editor, &VersionEditor::saved, this, [this](const QString& saved) {
        QSignalBlocker quiet(m_versions);
        checkVersions();
        int row = m_versions->count() - 1;
        while (row > 0 && m_versions->item(row)->data(Qt::UserRole).toString() != saved)
            --row;
        quiet.unblock();
        m_versions->setCurrentRow(row);
        showProblemsOf(row);
    });
    tabs->addTab(versions, QStringLiteral("Versions"));

    // What to pay whom, for one day.
    auto* pay = new QWidget(tabs);
    auto* payLayout = new QVBoxLayout(pay);
    auto* dayRow = new QHBoxLayout;
    dayRow->addWidget(new QLabel(QStringLiteral("Day:"), pay));
    m_day = new QDateEdit(m_now().date(), pay);
    m_day->setObjectName(QStringLiteral("dtpDay"));
    m_day->setCalendarPopup(true);
    m_day->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    dayRow->addWidget(m_day);
    dayRow->addStretch();
    payLayout->addLayout(dayRow);
    m_payments = new QTableWidget(0, 7, pay);
    m_payments->setObjectName(QStringLiteral("tblPayments"));
    m_payments->setHorizontalHeaderLabels({QStringLiteral("Station"), QStringLiteral("Participant"),
                                           QStringLiteral("Version"), QStringLiteral("Base pay"),
                                           QStringLiteral("Bonus"), QStringLiteral("Total"), QStringLiteral("State")});
    m_payments->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_payments->verticalHeader()->hide();
    m_payments->horizontalHeader()->setStretchLastSection(true);
    payLayout->addWidget(m_payments);
    connect(m_day, &QDateEdit::dateChanged, this, &ConsoleWindow::refresh);
    tabs->addTab(pay, QStringLiteral("Payments"));

    // The data, into a folder of its own for each export.
    auto* data = new QWidget(tabs);
    auto* dataLayout = new QVBoxLayout(data);
    dataLayout->addWidget(new QLabel(QStringLiteral("The data tables as CSV files, into a new folder named after the "
                                                    "study and the day inside the folder you choose."),
                                     data));
    auto* exportButton = new QPushButton(QStringLiteral("Export data..."), data);
    exportButton->setObjectName(QStringLiteral("cmdExport"));
    dataLayout->addWidget(exportButton, 0, Qt::AlignLeft);
    m_exportProgress = new QProgressBar(data);
    m_exportProgress->setObjectName(QStringLiteral("barExport"));
    m_exportProgress->setRange(0, 1);
    m_exportProgress->setValue(0);
    dataLayout->addWidget(m_exportProgress);
    dataLayout->addStretch();
    tabs->addTab(data, QStringLiteral("Data"));
    m_chooseFolder = [this] { return QFileDialog::getExistingDirectory(this, QStringLiteral("Export into")); };
    connect(exportButton, &QPushButton::clicked, this, [this] {
        const QString parent = m_chooseFolder();
        if (!parent.isEmpty())
            exportInto(parent);
    });

    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("lblStatus"));
    statusBar()->addWidget(m_status, 1);

    m_timer = new QTimer(this);
    connect(m_timer, &QTimer::timeout, this, &ConsoleWindow::refresh);
    m_timer->start(refreshMs);
    resize(1100, 650);
}

void ConsoleWindow::refresh()
{
    const QDateTime now = m_now();
    // The day shown and today: a station playing since before midnight stays in view.
    const QDate first = std::min(m_day->date(), now.date().addDays(-1));
    QList<ParticipantProgress> participants;
    try {
        participants = readProgress(m_store, {}, nullptr, QDateTime(first, QTime(0, 0)).toUTC());
    } catch (const std::exception& error) { // a locked or lost database: said, tried again
        m_status->setText(readFailure(error));
        return;
    }
    QList<ParticipantProgress> today;
    for (const ParticipantProgress& p : std::as_const(participants))
        if (p.lastActivity().date() == now.date() || p.held)
            today.append(p);
    // A new reading keeps the participant the experimenter looks at selected.
    const int before = selectedStation();
    const QString looked = before < 0 ? QString()
                                      : m_stations->participant(before).version + QLatin1Char('\n') +
                                            m_stations->participant(before).subject;
    m_stations->setParticipants(today, now);
    for (int row = 0; row < m_stations->rowCount() && !looked.isEmpty(); ++row)
        if (m_stations->participant(row).version + QLatin1Char('\n') + m_stations->participant(row).subject == looked)
            m_stationsView->selectRow(row);
    fillPayments(participants);

    int crashed = 0;
    int playing = 0;
    for (int row = 0; row < m_stations->rowCount(); ++row) {
        const QString& state = m_stations->state(row);
        crashed += state == QLatin1String("idle (possibly crashed)");
        playing += state == QLatin1String("playing") || state.startsWith(QLatin1String("idle"));
    }
    m_status->setText(QStringLiteral("Updated %1: %2 running, %3 possibly crashed")
                          .arg(now.toString(QStringLiteral("HH:mm:ss")))
                          .arg(playing)
                          .arg(crashed));
}

void ConsoleWindow::fillPayments(const QList<ParticipantProgress>& participants)
{
    const QDate day = m_day->date();
    const QDateTime now = m_now();
    QList<const ParticipantProgress*> shown;
    for (const ParticipantProgress& p : participants)
        if (p.playedOn(day)) // the same day as the payments command's
            shown.append(&p);
    m_payments->setRowCount(int(shown.size()) + 1);
    double sum = 0;
    for (int row = 0; row < shown.size(); ++row) {
        const ParticipantProgress& p = *shown.at(row);
        const QStringList cells = {p.station, p.subject, p.version, formatMoney(p.baseMoney),
                                   formatMoney(p.bonus()), formatMoney(p.totBonus), stateOf(p, now)};
        for (int column = 0; column < cells.size(); ++column)
            m_payments->setItem(row, column, new QTableWidgetItem(cells.at(column)));
        sum += p.totBonus;
    }
    const int last = int(shown.size());
    m_payments->setItem(last, 0, new QTableWidgetItem(QStringLiteral("Total")));
    for (int column = 1; column < 7; ++column)
        m_payments->setItem(last, column, new QTableWidgetItem(column == 5 ? formatMoney(sum) : QString()));
}

void ConsoleWindow::checkVersions()
{
    m_versions->clear();
    m_versionProblems.clear();
    try {
        for (const QString& version : configuredVersions(m_store)) {
            const QStringList problems = versionProblems(m_store, version);
            m_versionProblems.append(problems.isEmpty() ? QStringLiteral("Sound.") : problems.join(QLatin1Char('\n')));
            auto* item = new QListWidgetItem(
                problems.isEmpty() ? version
                                   : QStringLiteral("%1  (%2 problem%3)")
                                         .arg(version)
                                         .arg(problems.size())
                                         .arg(problems.size() == 1 ? QString() : QStringLiteral("s")),
                m_versions);
            item->setBackground(problems.isEmpty() ? QColor(190, 240, 190) : QColor(245, 150, 150));
            item->setData(Qt::UserRole, version);
        }
    } catch (const std::exception& error) {
        m_status->setText(readFailure(error));
    }
    if (m_versions->count() > 0)
        m_versions->setCurrentRow(0);
}

int ConsoleWindow::selectedStation() const
{
    const QModelIndexList rows = m_stationsView->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void ConsoleWindow::selectStation(int row)
{
    m_stationsView->selectRow(row);
}

void ConsoleWindow::showSessionOf(int row)
{
    if (row < 0 || row >= m_stations->rowCount()) {
        m_session->clear();
        return;
    }
    const ParticipantProgress& p = m_stations->participant(row);
    try {
        const SessionData data = loadSession(m_store, p.version, p.subject);
        m_session->setPixmap(QPixmap::fromImage(drawSession(data, m_session->size().expandedTo({320, 200}))));
    } catch (const std::exception&) { // nothing completed yet, or the read failed: tried at the next one
        m_session->setText(QStringLiteral("%1 has completed no period yet.").arg(printable(p.subject)));
    }
}

void ConsoleWindow::releaseSelected()
{
    const int row = selectedStation();
    if (row < 0) {
        m_status->setText(QStringLiteral("Select the participant whose hold to release."));
        return;
    }
    const ParticipantProgress p = m_stations->participant(row);
    if (!p.held) {
        m_status->setText(QStringLiteral("No station holds %1 of %2.").arg(printable(p.subject), printable(p.version)));
        return;
    }
    const Credentials given = m_askCredentials();
    if (!given)
        return;
    QString done;
    try {
        if (!AccountMatches(m_store, given->first, given->second)) {
            m_status->setText(QStringLiteral("Wrong user name or password: nothing was released."));
            return;
        }
        const QStringList stations = StationHold::releaseFromOutside(m_store, p.subject, p.version);
        done = (stations.isEmpty()
                              ? QStringLiteral("No station holds %1 of %2 any more.").arg(printable(p.subject),
                                                                                          printable(p.version))
                              : QStringLiteral("Released %1 of %2 (held by %3).")
                                    .arg(printable(p.subject), printable(p.version),
                                         printable(stations.join(QStringLiteral(", ")))));
    } catch (const std::exception& error) {
        m_status->setText(readFailure(error));
        return;
    }
    refresh();
    m_status->setText(done);
}

QString ConsoleWindow::exportInto(const QString& parent)
{
    const QString base = QStringLiteral("%1-%2").arg(m_study, m_now().date().toString(Qt::ISODate));
    QString folder = QDir(parent).filePath(base);
    for (int n = 2; QFileInfo::exists(folder); ++n)
        folder = QDir(parent).filePath(QStringLiteral("%1-%2").arg(base).arg(n));
    m_exportProgress->setRange(0, 0); // busy: one read of every table
    QCoreApplication::processEvents();
    QStringList written;
    try {
        written = exportTables(m_store, folder, {{}, {}, dataTableNames()});
    } catch (const std::exception& error) {
        m_exportProgress->setRange(0, 1);
        m_exportProgress->setValue(0);
        m_status->setText(QStringLiteral("Nothing exported: %1").arg(QString::fromUtf8(error.what())));
        return {};
    }
    m_exportProgress->setRange(0, 1);
    m_exportProgress->setValue(1);
    m_status->setText(QStringLiteral("Exported %1 tables into %2").arg(written.size()).arg(QDir::toNativeSeparators(folder)));
    return folder;
}

void ConsoleWindow::showProblemsOf(int row)
{
    m_problems->setPlainText(m_versionProblems.value(row));
}

int runConsole(const QString& dataFolder)
{
    try {
        ToolStore tool(dataFolder);
        ConsoleWindow window(tool.store(), [] { return QDateTime::currentDateTime(); });
        window.setStudyName(QFileInfo(dataFolder).fileName());
        window.checkVersions();
        window.refresh();
        window.show();
        return QApplication::exec();
    } catch (const ToolError& error) {
        std::fprintf(stderr, "aquilevel console: %s\n", qPrintable(error.message()));
        return 1;
    }
}

} // namespace aquilevel::tools

#include "tools/ConsoleWindow.h"

#include "session/ExperimenterAccounts.h"
#include "session/ScreenFit.h"
#include "session/StationHold.h"
#include "store/DataRows.h"
#include "store/EngineError.h"
#include "store/Store.h"
#include "tools/Printable.h"
#include "tools/CheckCommand.h"
#include "tools/ExportImport.h"
#include "tools/MarkCommand.h"
#include "tools/Payments.h"
#include "tools/Progress.h"
#include "tools/ReplayWindow.h"
#include "tools/StationsModel.h"
#include "tools/SessionReport.h"
#include "tools/ToolCommand.h"
#include "tools/PilotPanel.h"
#include "tools/VersionEditor.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QCheckBox>
#include <QComboBox>
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
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
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

// OK and Cancel under a small form; whether it was answered with OK.
bool answered(QDialog& dialog, QFormLayout* form)
{
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    form->addRow(buttons);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    dialog.adjustSize(); // its contents' size, before it is enlarged
    fitToScreen(&dialog);
    return dialog.exec() == QDialog::Accepted;
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
    if (!answered(dialog, form))
        return std::nullopt;
    return std::make_pair(user->text(), password->text());
}

// Which mark and why, asked in a small dialog; nothing when cancelled.
std::optional<std::pair<QString, QString>> askMarkInDialog(QWidget* parent, const QString& who)
{
    QDialog dialog(parent);
    dialog.setWindowTitle(QStringLiteral("Mark %1").arg(who));
    auto* form = new QFormLayout(&dialog);
    auto* kind = new QComboBox(&dialog);
    kind->setObjectName(QStringLiteral("cboMark"));
    kind->addItem(QStringLiteral("Pilot"), QString::fromLatin1(store::MarkRow::kPilot));
    kind->addItem(QStringLiteral("Excluded"), QString::fromLatin1(store::MarkRow::kExcluded));
    kind->addItem(QStringLiteral("No mark (take it back)"), QString());
    auto* reason = new QLineEdit(&dialog);
    reason->setObjectName(QStringLiteral("txtReason"));
    form->addRow(QStringLiteral("Mark"), kind);
    form->addRow(QStringLiteral("Reason"), reason);
    if (!answered(dialog, form))
        return std::nullopt;
    return std::make_pair(kind->currentData().toString(), reason->text());
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
    m_live = live;
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
    auto* mark = new QPushButton(QStringLiteral("Mark as pilot or excluded..."), side);
    mark->setObjectName(QStringLiteral("cmdMark"));
    mark->setToolTip(QStringLiteral("Payments and the data export set marked participants apart."));
    sideLayout->addWidget(mark);
    connect(mark, &QPushButton::clicked, this, &ConsoleWindow::askMark);
    auto* replay = new QPushButton(QStringLiteral("Replay..."), side);
    replay->setObjectName(QStringLiteral("cmdReplay"));
    replay->setToolTip(QStringLiteral("Redraws the participant's stored session stage by stage, as it was shown."));
    sideLayout->addWidget(replay);
    connect(replay, &QPushButton::clicked, this, &ConsoleWindow::replaySelected);
    live->addWidget(side);
    // The table as wide as its cells, the picture of the selected session the rest.
    m_stationsView->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    live->setStretchFactor(0, 1);
    live->setStretchFactor(1, 1);
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
    connect(m_versions, &QListWidget::currentRowChanged, this, [this](int row) {
        const QListWidgetItem* item = m_versions->item(row);
        const QString chosen = item ? item->data(Qt::UserRole).toString() : QString();
        const QString edited = m_editor->version();
        if (chosen != edited && m_editor->hasChanges() &&
            QMessageBox::question(this, QStringLiteral("Unsaved changes"),
                                  QStringLiteral("Discard the changes to version %1?").arg(printable(edited))) !=
                QMessageBox::Yes) {
            // Back to the version being edited: nothing typed is lost unasked.
            const QSignalBlocker quiet(m_versions);
            for (int r = 0; r < m_versions->count(); ++r)
                if (m_versions->item(r)->data(Qt::UserRole).toString() == edited)
                    m_versions->setCurrentRow(r);
            return;
        }
        showProblemsOf(row);
        if (chosen != edited) // read once no other reading waits on the store
            m_store.whenIdle(m_editor, [this, chosen] { m_editor->load(chosen); });
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
    dayRow->addWidget(new QLabel(QStringLiteral("Version:"), pay));
    m_payVersion = new QComboBox(pay);
    m_payVersion->setObjectName(QStringLiteral("cboPayVersion"));
    m_payVersion->addItem(QStringLiteral("All versions"), QString());
    m_payVersion->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    dayRow->addWidget(m_payVersion);
    dayRow->addStretch();
    dayRow->addWidget(new QLabel(QStringLiteral("Round up to:"), pay));
    m_roundUp = new QLineEdit(QStringLiteral("0.01"), pay);
    m_roundUp->setObjectName(QStringLiteral("txtRoundUp"));
    m_roundUp->setToolTip(QStringLiteral("The pay sheet's totals are rounded up, never down, to this unit, e.g. 0.5 or 1."));
    m_roundUp->setMaximumWidth(m_roundUp->fontMetrics().horizontalAdvance(QStringLiteral("0000.00")));
    dayRow->addWidget(m_roundUp);
    auto* sheet = new QPushButton(QStringLiteral("Pay sheet..."), pay);
    sheet->setObjectName(QStringLiteral("cmdPaySheet"));
    sheet->setToolTip(QStringLiteral("The day's participants to sign for their pay, as a printable PDF or as CSV."));
    dayRow->addWidget(sheet);
    payLayout->addLayout(dayRow);
    connect(sheet, &QPushButton::clicked, this, [this] {
        const QString suggested = QStringLiteral("%1-pay-%2.pdf").arg(m_study, m_day->date().toString(Qt::ISODate));
        const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Pay sheet"), suggested,
                                                          QStringLiteral("PDF (*.pdf);;CSV (*.csv)"));
        if (!path.isEmpty())
            writePaySheet(path);
    });
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
    connect(m_payVersion, &QComboBox::currentIndexChanged, this, &ConsoleWindow::refresh);
    tabs->addTab(pay, QStringLiteral("Payments"));

    // The data, into a folder of its own for each export.
    auto* data = new QWidget(tabs);
    auto* dataLayout = new QVBoxLayout(data);
    dataLayout->addWidget(new QLabel(QStringLiteral("The data tables as CSV files with the codebook beside them, into "
                                                    "a new folder named after the study and the day inside the folder "
                                                    "you choose."),
                                     data));
    m_includePilots = new QCheckBox(QStringLiteral("Take in participants marked as pilots"), data);
    m_includePilots->setObjectName(QStringLiteral("chkIncludePilots"));
    m_includeExcluded = new QCheckBox(QStringLiteral("Take in participants marked as excluded"), data);
    m_includeExcluded->setObjectName(QStringLiteral("chkIncludeExcluded"));
    m_withAnalysis = new QCheckBox(QStringLiteral("Also write the analysis files: periods.csv and participants.csv "
                                                  "with each participant's decision rule"),
                                   data);
    m_withAnalysis->setObjectName(QStringLiteral("chkAnalysis"));
    m_withAnalysis->setChecked(true);
    m_byteOrderMark = new QCheckBox(QStringLiteral("Start each file with a byte-order mark (for a spreadsheet that "
                                                   "wants one to read UTF-8)"),
                                    data);
    m_byteOrderMark->setObjectName(QStringLiteral("chkByteOrderMark"));
    dataLayout->addWidget(m_includePilots);
    dataLayout->addWidget(m_includeExcluded);
    dataLayout->addWidget(m_withAnalysis);
    dataLayout->addWidget(m_byteOrderMark);
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

    // Ctrl+C copies the stations table wherever the focus is, but in a text box.
    auto* copy = new QAction(QStringLiteral("Copy the stations table"), this);
    copy->setObjectName(QStringLiteral("actCopyStations"));
    copy->setShortcut(QKeySequence::Copy);
    addAction(copy);
    connect(copy, &QAction::triggered, this, [this] { QGuiApplication::clipboard()->setText(stationsText()); });

    m_timer = new QTimer(this);
    connect(m_timer, &QTimer::timeout, this, &ConsoleWindow::refresh);
    m_timer->start(refreshMs);
    resize(1100, 650);
}

void ConsoleWindow::refresh()
{
    // A read that waits on a lock lets the window's events run meanwhile, the timer's too:
    // a reading never starts inside another access of the store.
    if (m_store.isBusy())
        return;
    const QDateTime now = m_now();
    // Since yesterday: a station playing since before midnight stays in view.
    const QDate yesterday = now.date().addDays(-1);
    QList<ParticipantProgress> participants;
    QList<WaitingStation> waiting;
    QList<ParticipantProgress> earlier; // the payments of an earlier day, when one is chosen anew
    const QString payments = m_day->date().toString(Qt::ISODate) + QLatin1Char('\n') + m_payVersion->currentData().toString();
    try {
        participants = readProgress(m_store, {}, nullptr, QDateTime(yesterday, QTime(0, 0)).toUTC(), &waiting);
        if (m_day->date() < yesterday && payments != m_paymentsShown)
            earlier = readProgress(m_store, {}, nullptr, QDateTime(m_day->date(), QTime(0, 0)).toUTC());
    } catch (const std::exception& error) { // a locked or lost database: said, tried again
        m_status->setText(readFailure(error));
        return;
    }
    QList<ParticipantProgress> today;
    for (const ParticipantProgress& p : std::as_const(participants))
        if (p.lastActivity().date() == now.date() || p.held)
            today.append(p);
    // A new reading keeps the participant the experimenter looks at selected.
    // A participant is known by version and name, a waiting station by its name.
    const auto identity = [this](int row) {
        const ParticipantProgress& p = m_stations->participant(row);
        return m_stations->isWaiting(row) ? QStringLiteral("\n\n") + p.station
                                          : p.version + QLatin1Char('\n') + p.subject;
    };
    const int before = selectedStation();
    const QString looked = before < 0 ? QString() : identity(before);
    m_stations->setParticipants(today, now, waiting);
    for (int row = 0; row < m_stations->rowCount() && !looked.isEmpty(); ++row)
        if (identity(row) == looked) {
            m_stationsView->selectRow(row);
            break;
        }
    // An earlier day's payments are read once when chosen, not at every reading.
    if (m_day->date() >= yesterday)
        fillPayments(participants);
    else if (payments != m_paymentsShown)
        fillPayments(earlier);
    m_paymentsShown = payments;
    // Once there are rows, the table gets the width of its cells and the picture the
    // rest; the experimenter may move the divider after that.
    if (!m_sized && m_stations->rowCount() > 0 && m_live->isVisible()) {
        m_sized = true;
        int width = 2 * m_stationsView->frameWidth() + m_stationsView->verticalScrollBar()->sizeHint().width();
        for (int column = 0; column < m_stations->columnCount(); ++column)
            width += m_stationsView->horizontalHeader()->sectionSize(column);
        width = std::min(width, m_live->width() * 3 / 5);
        m_live->setSizes({width, m_live->width() - width});
    }

    int crashed = 0;
    int playing = 0;
    int atLogin = 0;
    for (int row = 0; row < m_stations->rowCount(); ++row) {
        const QString& state = m_stations->state(row);
        crashed += state == QLatin1String("idle (possibly crashed)");
        playing += state == QLatin1String("playing") || state == QLatin1String("idle");
        atLogin += m_stations->isWaiting(row) && state == QLatin1String("waiting at the login");
    }
    m_status->setText(QStringLiteral("Updated %1: %2 playing, %3 possibly crashed, %4 waiting at the login")
                          .arg(now.toString(QStringLiteral("HH:mm:ss")))
                          .arg(playing)
                          .arg(crashed)
                          .arg(atLogin));
}

PaymentSelection ConsoleWindow::paymentSelection() const
{
    PaymentSelection selection;
    selection.day = m_day->date();
    selection.version = m_payVersion->currentData().toString();
    return selection;
}

void ConsoleWindow::fillPayments(const QList<ParticipantProgress>& participants)
{
    // The payments command's choice: the day, the version, and the marked set apart.
    const ToPay toPay = sortOut(participants, paymentSelection());
    const QDateTime now = m_now();
    QList<QStringList> rows;
    qint64 sum = 0; // in hundredths
    for (const ParticipantProgress& p : toPay.paid) {
        rows.append({p.station, p.subject, p.version, formatMoney(p.baseMoney), formatMoney(p.bonus()),
                     formatMoney(p.totBonus), stateOf(p, now)});
        sum += toCents(p.totBonus);
    }
    rows.append({QStringLiteral("Total of %1 participants").arg(toPay.paid.size()), QString(), QString(), QString(),
                 QString(), formatCents(sum), QString()});
    const int totalRow = int(rows.size()) - 1;
    if (!toPay.apart.isEmpty())
        rows.append({QStringLiteral("Set apart, not in the total: marked as pilots or excluded")});
    for (const ParticipantProgress& p : toPay.apart)
        rows.append({p.station, p.subject, p.version, formatMoney(p.baseMoney), formatMoney(p.bonus()),
                     formatMoney(p.totBonus),
                     p.markReason.isEmpty() ? p.mark : QStringLiteral("%1: %2").arg(p.mark, printable(p.markReason))});
    m_payments->clearSpans();
    m_payments->setRowCount(int(rows.size()));
    m_payments->setSpan(totalRow, 0, 1, 5); // the words of the sums across the empty cells
    if (!toPay.apart.isEmpty())
        m_payments->setSpan(totalRow + 1, 0, 1, 7);
    for (int row = 0; row < rows.size(); ++row)
        for (int column = 0; column < 7; ++column) {
            auto* item = new QTableWidgetItem(rows.at(row).value(column));
            if (row == totalRow || row == totalRow + 1) {
                QFont bold = item->font();
                bold.setBold(true);
                item->setFont(bold);
            }
            if (row > totalRow)
                item->setForeground(QColor(110, 110, 110)); // not paid with the others
            if (column >= 3 && column <= 5)
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            m_payments->setItem(row, column, item);
        }
}

bool ConsoleWindow::writePaySheet(const QString& path)
{
    if (!storeFree())
        return false;
    const qint64 unit = unitInCents(m_roundUp->text());
    if (unit <= 0) {
        m_status->setText(QStringLiteral("Round up to a positive amount in whole cents, such as 0.5 or 1, not \"%1\".")
                              .arg(m_roundUp->text()));
        return false;
    }
    const PaymentSelection selection = paymentSelection();
    try {
        const ToPay toPay = participantsToPay(m_store, selection);
        const QString title = QStringLiteral("Pay sheet: %1, %2%3")
                                  .arg(m_study, selection.day.toString(Qt::ISODate),
                                       selection.version.isEmpty() ? QString()
                                                                   : QStringLiteral(", version %1").arg(selection.version));
        const PaySheet sheet = paySheet(toPay.paid, unit, title);
        if (path.endsWith(QStringLiteral(".csv"), Qt::CaseInsensitive))
            writeSheetCsv(path, sheet);
        else
            writeSheetPdf(path, sheet);
        m_status->setText(QStringLiteral("Wrote the pay sheet of %1 participants into %2%3")
                              .arg(sheet.lines.size())
                              .arg(QDir::toNativeSeparators(path),
                                   toPay.apart.isEmpty() ? QString()
                                                         : QStringLiteral(" (%1 marked set apart)").arg(toPay.apart.size())));
        return true;
    } catch (const ToolError& error) {
        m_status->setText(error.message());
    } catch (const std::exception& error) {
        m_status->setText(readFailure(error));
    }
    return false;
}

void ConsoleWindow::checkVersions()
{
    m_versions->clear();
    m_versionProblems.clear();
    m_versionNames.clear();
    try {
        for (const QString& version : configuredVersions(m_store)) {
            const QStringList problems = versionProblems(m_store, version);
            m_versionNames.append(version);
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
    // The payments' choice of version keeps what was chosen while it is still there.
    const QString chosen = m_payVersion->currentData().toString();
    const QSignalBlocker quiet(m_payVersion);
    m_payVersion->clear();
    m_payVersion->addItem(QStringLiteral("All versions"), QString());
    for (int row = 0; row < m_versionNames.size(); ++row)
        m_payVersion->addItem(m_versionNames.at(row), m_versionNames.at(row));
    m_payVersion->setCurrentIndex(std::max(0, m_payVersion->findData(chosen)));
}

QString ConsoleWindow::stationsText() const
{
    QStringList lines;
    for (int row = -1; row < m_stations->rowCount(); ++row) {
        QStringList cells;
        for (int column = 0; column < m_stations->columnCount(); ++column)
            cells.append(row < 0 ? m_stations->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString()
                                 : printable(m_stations->data(m_stations->index(row, column), Qt::DisplayRole).toString()));
        lines.append(cells.join(QLatin1Char('\t')));
    }
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

int ConsoleWindow::selectedStation() const
{
    const QModelIndexList rows = m_stationsView->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

int ConsoleWindow::selectedParticipant()
{
    const int row = selectedStation();
    if (row < 0 || m_stations->isWaiting(row)) {
        m_status->setText(QStringLiteral("Select the participant to mark."));
        return -1;
    }
    return row;
}

void ConsoleWindow::selectStation(int row)
{
    m_stationsView->selectRow(row);
}

void ConsoleWindow::showSessionOf(int row)
{
    if (row < 0 || row >= m_stations->rowCount() || m_stations->isWaiting(row)) {
        m_session->clear();
        return;
    }
    if (m_store.isBusy()) // drawn at the next reading
        return;
    // A copy: a read that waits on a lock lets the next reading replace the model's rows.
    const ParticipantProgress p = m_stations->participant(row);
    try {
        const SessionData data = loadSession(m_store, p.version, p.subject);
        m_session->setPixmap(QPixmap::fromImage(drawSession(data, m_session->size().expandedTo({320, 200}))));
    } catch (const std::exception&) { // nothing completed yet, or the read failed: tried at the next one
        m_session->setText(QStringLiteral("%1 has completed no period yet.").arg(printable(p.subject)));
    }
}

void ConsoleWindow::replaySelected()
{
    if (!storeFree())
        return;
    const int row = selectedStation();
    if (row < 0 || m_stations->isWaiting(row)) {
        m_status->setText(QStringLiteral("Select the participant to replay."));
        return;
    }
    const ParticipantProgress p = m_stations->participant(row);
    try {
        // A window of its own beside the console, closed and gone on its own.
        auto* window = new ReplayWindow(m_store, loadReplay(m_store, p.version, p.subject), this);
        window->setAttribute(Qt::WA_DeleteOnClose);
        window->show();
    } catch (const std::exception& error) {
        m_status->setText(QStringLiteral("No replay of %1: %2").arg(printable(p.subject), QString::fromUtf8(error.what())));
    }
}

void ConsoleWindow::releaseSelected()
{
    if (!storeFree())
        return;
    const int row = selectedStation();
    if (row < 0) {
        m_status->setText(QStringLiteral("Select the participant whose hold to release."));
        return;
    }
    const ParticipantProgress p = m_stations->participant(row);
    if (m_stations->isWaiting(row)) {
        m_status->setText(QStringLiteral("%1 waits at the login: it holds nobody.").arg(printable(p.station)));
        return;
    }
    if (!p.held) {
        m_status->setText(QStringLiteral("No station holds %1 of %2.").arg(printable(p.subject), printable(p.version)));
        return;
    }
    if (!experimenterLetIn(QStringLiteral("nothing was released")))
        return;
    QString done;
    try {
        const QStringList stations = StationHold::releaseFromOutside(m_store, p.subject, p.version);
        m_paymentsShown.clear(); // read again, with its new state
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

bool ConsoleWindow::storeFree()
{
    if (!m_store.isBusy())
        return true;
    m_status->setText(QStringLiteral("The database is busy with a reading just now: try again in a moment."));
    return false;
}

bool ConsoleWindow::experimenterLetIn(const QString& refusal)
{
    const Credentials given = m_askCredentials();
    if (!given)
        return false;
    try {
        if (AccountMatches(m_store, given->first, given->second))
            return true;
        m_status->setText(QStringLiteral("Wrong user name or password: %1.").arg(refusal));
    } catch (const std::exception& error) {
        m_status->setText(readFailure(error));
    }
    return false;
}

void ConsoleWindow::askMark()
{
    const int row = selectedParticipant();
    if (row < 0)
        return;
    if (const auto chosen = askMarkInDialog(this, printable(m_stations->participant(row).subject)))
        markSelected(chosen->first, chosen->second);
}

void ConsoleWindow::markSelected(const QString& mark, const QString& reason)
{
    if (!storeFree())
        return;
    const int row = selectedParticipant();
    if (row < 0)
        return;
    const ParticipantProgress p = m_stations->participant(row);
    if (!experimenterLetIn(QStringLiteral("nothing was marked")))
        return;
    QString done;
    try {
        done = markParticipant(m_store, p.version, p.subject, mark, reason);
        m_paymentsShown.clear(); // read again, with the mark
    } catch (const ToolError& error) {
        m_status->setText(error.message());
        return;
    } catch (const std::exception& error) {
        m_status->setText(QStringLiteral("Nothing was marked: %1").arg(QString::fromUtf8(error.what())));
        return;
    }
    refresh();
    m_status->setText(done);
}

QString ConsoleWindow::exportInto(const QString& parent)
{
    if (!storeFree())
        return {};
    const QString base = QStringLiteral("%1-%2").arg(m_study, m_now().date().toString(Qt::ISODate));
    QString folder = QDir(parent).filePath(base);
    for (int n = 2; QFileInfo::exists(folder); ++n)
        folder = QDir(parent).filePath(QStringLiteral("%1-%2").arg(base).arg(n));
    ExportOptions options;
    options.tables = dataTableNames();
    options.includePilots = m_includePilots->isChecked();
    options.includeExcluded = m_includeExcluded->isChecked();
    options.codebook = true;
    options.analysis = m_withAnalysis->isChecked();
    options.byteOrderMark = m_byteOrderMark->isChecked();
    options.progress = [this](int done, int total) {
        m_exportProgress->setRange(0, total);
        m_exportProgress->setValue(done);
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    };
    m_exportProgress->setRange(0, 0); // busy until the first table is read
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    QStringList written;
    LeftOut leftOut;
    try {
        written = exportTables(m_store, folder, options, &leftOut);
    } catch (const std::exception& error) {
        m_exportProgress->setRange(0, 1);
        m_exportProgress->setValue(0);
        m_status->setText(QStringLiteral("Nothing exported: %1").arg(QString::fromUtf8(error.what())));
        return {};
    }
    m_exportProgress->setRange(0, 1);
    m_exportProgress->setValue(1);
    QString left;
    if (leftOut.total() > 0)
        left = QStringLiteral("; left out %1 marked participant(s) (%2 pilot(s), %3 excluded)")
                   .arg(leftOut.total())
                   .arg(leftOut.pilots)
                   .arg(leftOut.excluded);
    m_status->setText(QStringLiteral("Exported %1 tables%2 and the codebook into %3%4")
                          .arg(options.tables.size())
                          .arg(options.analysis ? QStringLiteral(", the analysis files") : QString(),
                               QDir::toNativeSeparators(folder), left));
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
        fitToScreen(&window); // larger on an unscaled 4K screen, as the stations' windows
        window.show();        // first, so that the first reading fits the table to the window
        window.checkVersions();
        window.refresh();
        return QApplication::exec();
    } catch (const ToolError& error) {
        std::fprintf(stderr, "aquilevel console: %s\n", qPrintable(error.message()));
        return 1;
    }
}

} // namespace aquilevel::tools

#include "tools/VersionEditor.h"

#include "config/ConfigCheck.h"
#include "config/DesignCheck.h"
#include "config/ExperimentSetup.h"
#include "config/VersionConfig.h"
#include "session/ExperimenterAccounts.h"
#include "store/ConfigTables.h"
#include "store/DataTables.h"
#include "store/Store.h"
#include "store/Tables.h"
#include "tools/CheckCommand.h"
#include "tools/Printable.h"
#include "tools/ScenarioChart.h"
#include "tools/TableCsv.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSet>
#include <QSplitter>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace aquilevel::tools {

namespace {

const QString kStatus = QStringLiteral("Editing a version");
const QString kMarked = QStringLiteral("QLineEdit { border: 2px solid rgb(210, 0, 0); }");
const QColor kMarkedCell(255, 200, 200);
const QString kSaveTip = QStringLiteral("Checks the version as `aquilevel check` does and stores it, after an "
                                        "experimenter's password");

const QStringList kScenarioColumns = {QStringLiteral("Trial"), QStringLiteral("inFlowRateEnviron"),
                                      QStringLiteral("outFlowRateEnviron")};
const QStringList kLabelColumns = {QStringLiteral("LabelNumber"), QStringLiteral("LabelName")};

// Rows of a check refused inside the save's transaction: nothing is kept.
struct Refused {
    QStringList problems;
};

// Another console's save or an import changed the version since it was shown.
struct ChangedMeanwhile {};

// What rows hold now, as one text: a version's setup and labels, or a scenario's rows.
QString stateOf(const QList<store::Row>& rows)
{
    QStringList parts;
    for (const store::Row& row : rows) {
        for (const QVariant& value : row.values())
            parts << (value.isNull() ? QStringLiteral("(null)") : value.toString());
        parts << QStringLiteral("|");
    }
    return parts.join(QChar(0x1f));
}

QString versionState(store::Connection& c, const QString& version)
{
    QList<store::Row> rows;
    if (const std::optional<store::Row> setup = store::SetupTable::row(c, version))
        rows.append(*setup);
    return stateOf(rows + store::LabelTable::rows(c, version));
}

QString scenarioState(store::Connection& c, const QVariant& scenario)
{
    return stateOf(store::ScenarioTable::rows(c, scenario));
}

QString cellText(const QTableWidget* table, int row, int column)
{
    const QTableWidgetItem* item = table->item(row, column);
    return item ? item->text() : QString();
}

// The order of the scale, by LabelNumber, a label without one first (as the file sorts).
bool lowerLabel(const store::Row& a, const store::Row& b)
{
    const QVariant x = a.value("LabelNumber");
    const QVariant y = b.value("LabelNumber");
    return !x.isNull() && !y.isNull() ? x.toDouble() < y.toDouble() : x.isNull() && !y.isNull();
}

// A cell as its column stores it, the way import reads a CSV field: an empty one is
// Null; one that does not fit adds its problem at the cell.
QVariant cellValue(const QTableWidget* table, int row, int column, ColumnKind kind, const QString& tableName,
                   const QString& field, const QString& version, config::ConfigProblems& problems)
{
    QString error;
    const QVariant value = fromCsvText(cellText(table, row, column), kind, error);
    if (!error.isEmpty())
        problems.append({tableName, version, field, error, false, row});
    return value;
}

} // namespace

VersionEditor::VersionEditor(store::Store& store, QWidget* parent) : QWidget(parent), m_store(store)
{
    setObjectName(QStringLiteral("frmVersionEditor"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    auto* split = new QSplitter(Qt::Horizontal, this);
    layout->addWidget(split, 1);

    // Every column of tblSetup under its own name, as check names it, two to a line.
    auto* scroll = new QScrollArea(split);
    scroll->setWidgetResizable(true);
    auto* form = new QWidget(scroll);
    auto* grid = new QGridLayout(form);
    grid->setVerticalSpacing(2);
    const QList<TableColumn> columns = tableColumns(QStringLiteral("tblSetup"));
    for (int i = 0; i < columns.size(); ++i) {
        const TableColumn& column = columns.at(i);
        m_columns.append(column.name);
        Field field;
        field.kind = int(column.kind);
        auto* cell = new QWidget(form);
        auto* cellLayout = new QVBoxLayout(cell);
        cellLayout->setContentsMargins(0, 0, 0, 0);
        cellLayout->setSpacing(0);
        if (column.kind == ColumnKind::Boolean) {
            auto* box = new QCheckBox(cell);
            box->setObjectName(QStringLiteral("chk") + column.name);
            field.input = box;
        } else {
            auto* edit = new QLineEdit(cell);
            edit->setObjectName(QStringLiteral("txt") + column.name);
            edit->setMinimumWidth(60);
            if (column.kind != ColumnKind::Text)
                edit->setAlignment(Qt::AlignRight);
            if (column.name == QLatin1String("Version")) {
                edit->setReadOnly(true);
                edit->setToolTip(QStringLiteral("The version's name is its key: its labels and its participants' "
                                                "rows are found by it."));
            }
            field.input = edit;
            if (column.name == QLatin1String("ScenarioUsed"))
                connect(edit, &QLineEdit::editingFinished, this, &VersionEditor::switchScenario);
            // A field typed in again is judged again at the next save.
            connect(edit, &QLineEdit::textEdited, this, [this, name = column.name.toLower()] {
                Field& f = m_fields[name];
                f.input->setStyleSheet(QString());
                f.input->setToolTip(QString());
                f.problem->hide();
            });
        }
        cellLayout->addWidget(field.input);
        field.problem = new QLabel(cell);
        field.problem->setObjectName(QStringLiteral("lbl%1Problem").arg(column.name));
        field.problem->setWordWrap(true);
        field.problem->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred); // wraps to the column
        field.problem->setStyleSheet(QStringLiteral("color: rgb(190, 0, 0);"));
        field.problem->hide();
        cellLayout->addWidget(field.problem);
        auto* name = new QLabel(column.name, form);
        name->setBuddy(field.input);
        const int row = i / 2;
        const int at = (i % 2) * 2;
        grid->addWidget(name, row, at, Qt::AlignRight | Qt::AlignTop);
        grid->addWidget(cell, row, at + 1, Qt::AlignTop);
        m_fields.insert(column.name.toLower(), field);
    }
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);
    grid->setRowStretch(int(columns.size() + 1) / 2, 1);
    scroll->setWidget(form);

    // The scenario and its chart, the labels beneath.
    auto* side = new QWidget(split);
    auto* sideLayout = new QVBoxLayout(side);
    sideLayout->setContentsMargins(0, 0, 0, 0);
    m_scenarioNote = new QLabel(side);
    m_scenarioNote->setObjectName(QStringLiteral("lblScenario"));
    m_scenarioNote->setWordWrap(true);
    sideLayout->addWidget(m_scenarioNote);
    auto* tables = new QSplitter(Qt::Vertical, side);
    m_scenario = new QTableWidget(0, 3, tables);
    m_scenario->setObjectName(QStringLiteral("tblScenario"));
    m_scenario->setHorizontalHeaderLabels({QStringLiteral("Period"), QStringLiteral("Inflow"), QStringLiteral("Outflow")});
    for (int c = 0; c < kScenarioColumns.size(); ++c)
        m_scenario->horizontalHeaderItem(c)->setToolTip(
            QStringList{QStringLiteral("The period (Trial)"), QStringLiteral("The environment's inflow rate (inFlowRateEnviron)"),
                        QStringLiteral("The environment's outflow rate (outFlowRateEnviron)")}
                .at(c));
    m_chart = new ScenarioChart(tables);
    m_labels = new QTableWidget(0, 2, tables);
    m_labels->setObjectName(QStringLiteral("tblLabels"));
    m_labels->setHorizontalHeaderLabels({QStringLiteral("LabelNumber"), QStringLiteral("LabelName")});
    for (QTableWidget* table : {m_scenario, m_labels}) {
        table->verticalHeader()->hide();
        table->horizontalHeader()->setStretchLastSection(true);
        table->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
        table->setSelectionBehavior(QAbstractItemView::SelectRows);
    }
    tables->setStretchFactor(0, 3);
    tables->setStretchFactor(1, 2);
    tables->setStretchFactor(2, 2);
    sideLayout->addWidget(tables, 1);
    auto* rowButtons = new QHBoxLayout;
    const auto button = [&](const QString& text, const QString& name, auto action) {
        auto* b = new QPushButton(text, side);
        b->setObjectName(name);
        connect(b, &QPushButton::clicked, this, action);
        rowButtons->addWidget(b);
    };
    button(QStringLiteral("Add period"), QStringLiteral("cmdAddPeriod"), [this] { addRow(m_scenario, true); });
    button(QStringLiteral("Add label"), QStringLiteral("cmdAddLabel"), [this] { addRow(m_labels, false); });
    button(QStringLiteral("Remove selected rows"), QStringLiteral("cmdRemoveRows"), [this] {
        for (QTableWidget* table : {m_scenario, m_labels}) {
            QList<int> rows;
            for (const QModelIndex& index : table->selectionModel()->selectedRows())
                rows.append(index.row());
            std::sort(rows.rbegin(), rows.rend());
            for (const int row : std::as_const(rows))
                table->removeRow(row);
        }
        updateChart();
    });
    rowButtons->addStretch();
    sideLayout->addLayout(rowButtons);
    split->addWidget(scroll);
    split->addWidget(side);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 2);
    split->setSizes({760, 390});
    connect(m_scenario, &QTableWidget::itemChanged, this, &VersionEditor::updateChart);

    auto* bottom = new QHBoxLayout;
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("lblEditStatus"));
    m_status->setWordWrap(true);
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    bottom->addWidget(m_status, 1);
    m_save = new QPushButton(QStringLiteral("Save..."), this);
    m_save->setObjectName(QStringLiteral("cmdSave"));
    m_save->setToolTip(kSaveTip);
    connect(m_save, &QPushButton::clicked, this, &VersionEditor::save);
    bottom->addWidget(m_save, 0, Qt::AlignTop);
    layout->addLayout(bottom);
    load(QString());
}

void VersionEditor::load(const QString& version)
{
    m_version = version;
    std::optional<store::Row> setup;
    QList<store::Row> labels;
    QList<store::Row> scenario;
    QStringList sharing;
    qint64 played = 0;
    m_pages.clear();
    QString failure;
    if (!version.isEmpty()) {
        try {
            m_store.transaction(
                [&](store::Connection& c) {
                    setup = store::SetupTable::row(c, version);
                    if (!setup)
                        return;
                    labels = store::LabelTable::rows(c, version);
                    m_pages = store::InstructionTable::rows(c, version);
                    scenario = store::ScenarioTable::rows(c, setup->value("ScenarioUsed"));
                    m_loadedScenario = setup->value("ScenarioUsed");
                    m_loadedVersionState = versionState(c, version);
                    m_loadedScenarioState = scenarioState(c, m_loadedScenario);
                    sharing = store::SetupTable::versionsUsing(c, setup->value("ScenarioUsed"));
                    const QString name = setup->value("Version").toString();
                    played = store::EventTable::participants(c, name) + store::SubjectTable::countWithoutEvents(c, name);
                },
                true, kStatus);
        } catch (const std::exception& error) {
            failure = QStringLiteral("Could not read the version: %1").arg(QString::fromUtf8(error.what()));
            setup.reset();
        }
    }
    // The labels bottom to top, as the scale reads them.
    std::stable_sort(labels.begin(), labels.end(), lowerLabel);
    clearMarks();
    fillSetup(setup);
    fillTable(m_labels, labels, kLabelColumns);
    m_scenario->blockSignals(true);
    fillTable(m_scenario, scenario, kScenarioColumns);
    m_scenario->blockSignals(false);
    updateChart();
    m_played = played;
    if (setup) {
        m_storedVersion = setup->value("Version");
        m_shownScenario = fieldText(QStringLiteral("ScenarioUsed"));
        describeScenario(sharing, false);
        // Their rows keep what they played; a change is for the sessions to come.
        m_save->setToolTip(kSaveTip + (played == 0 ? QString()
                                                   : QStringLiteral("\n%1 participant(s) have played this version: a "
                                                                    "change applies to the sessions that start after "
                                                                    "it, and the analyses should know of it.")
                                                         .arg(played)));
    } else {
        m_storedVersion = QVariant();
        m_shownScenario.clear();
        m_scenarioNote->setText(QString());
    }
    setEnabled(setup.has_value());
    m_loaded = shown();
    say(failure.isEmpty() && !version.isEmpty() && !setup ? QStringLiteral("There is no version \"%1\".").arg(version)
                                                          : failure,
        true);
    emit loaded(m_version);
}

// ScenarioUsed typed anew: the table shows that scenario's rows, which the version will
// play; a number no scenario has yet keeps the rows shown, to become that scenario.
void VersionEditor::switchScenario()
{
    const QString number = fieldText(QStringLiteral("ScenarioUsed"));
    bool whole = false;
    const int scenario = number.toInt(&whole);
    if (!whole || number == m_shownScenario)
        return;
    QList<store::Row> rows;
    QStringList sharing;
    try {
        m_store.transaction(
            [&](store::Connection& c) {
                rows = store::ScenarioTable::rows(c, scenario);
                sharing = store::SetupTable::versionsUsing(c, scenario);
            },
            true, kStatus);
    } catch (const std::exception& error) {
        say(QStringLiteral("Could not read scenario %1: %2").arg(number, QString::fromUtf8(error.what())), true);
        return;
    }
    // The scenario a save will write is now this one: its rows as read are what a save
    // must find unchanged.
    m_loadedScenario = scenario;
    m_loadedScenarioState = stateOf(rows);
    m_shownScenario = number;
    if (!rows.isEmpty()) {
        m_scenario->blockSignals(true);
        fillTable(m_scenario, rows, kScenarioColumns);
        m_scenario->blockSignals(false);
        updateChart();
    }
    describeScenario(sharing, rows.isEmpty());
}

void VersionEditor::describeScenario(QStringList sharing, bool fresh)
{
    sharing.removeIf([&](const QString& v) { return v.compare(m_storedVersion.toString(), Qt::CaseInsensitive) == 0; });
    QString text = m_played > 0 ? QStringLiteral("%1 participant(s) have played this version.\n").arg(m_played) : QString();
    if (fresh)
        text += QStringLiteral("Scenario %1 has no rows yet: the rows below become it.").arg(m_shownScenario);
    else if (sharing.isEmpty())
        text += QStringLiteral("Scenario %1, the environment's flows (ScenarioUsed says which one is played):")
                    .arg(m_shownScenario);
    else
        text += QStringLiteral("Scenario %1, also played by %2: a change here changes it for them too.")
                    .arg(m_shownScenario, printable(sharing.join(QStringLiteral(", "))));
    m_scenarioNote->setText(text);
}

void VersionEditor::fillSetup(const std::optional<store::Row>& row)
{
    for (const QString& column : std::as_const(m_columns)) {
        const Field& field = m_fields[column.toLower()];
        const QVariant value = row && row->has(column) ? row->value(column) : QVariant();
        if (auto* box = qobject_cast<QCheckBox*>(field.input))
            box->setChecked(config::isYes(value));
        else
            static_cast<QLineEdit*>(field.input)->setText(csvText(value, ColumnKind(field.kind)));
    }
}

void VersionEditor::fillTable(QTableWidget* table, const QList<store::Row>& rows, const QStringList& columns)
{
    table->setRowCount(int(rows.size()));
    const QList<TableColumn> kinds = tableColumns(table == m_labels ? QStringLiteral("tblLabels")
                                                                    : QStringLiteral("tblScenarios"));
    for (int r = 0; r < rows.size(); ++r)
        for (int c = 0; c < columns.size(); ++c) {
            ColumnKind kind = ColumnKind::Text;
            for (const TableColumn& k : kinds)
                if (k.name.compare(columns.at(c), Qt::CaseInsensitive) == 0)
                    kind = k.kind;
            auto* item = new QTableWidgetItem(csvText(rows.at(r).value(columns.at(c)), kind));
            if (kind != ColumnKind::Text)
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            table->setItem(r, c, item);
        }
}

void VersionEditor::addRow(QTableWidget* table, bool period)
{
    const int row = table->rowCount();
    table->blockSignals(true);
    table->insertRow(row);
    // A new period follows the last, with its flows; a new label goes on top.
    for (int c = 0; c < table->columnCount(); ++c) {
        QString text = row > 0 ? cellText(table, row - 1, c) : QString();
        if (c == 0) {
            bool whole = false;
            const double last = text.toDouble(&whole);
            text = whole ? QString::number(period ? last + 1 : last + 10) : QString::number(row);
        } else if (!period) {
            text.clear();
        }
        table->setItem(row, c, new QTableWidgetItem(text));
    }
    table->blockSignals(false);
    table->scrollToBottom();
    updateChart();
}

void VersionEditor::updateChart()
{
    QList<ScenarioFlow> flows;
    for (int r = 0; r < m_scenario->rowCount(); ++r) {
        bool okPeriod = false;
        bool okIn = false;
        bool okOut = false;
        const ScenarioFlow flow{cellText(m_scenario, r, 0).trimmed().toDouble(&okPeriod),
                                cellText(m_scenario, r, 1).trimmed().toDouble(&okIn),
                                cellText(m_scenario, r, 2).trimmed().toDouble(&okOut)};
        if (okPeriod && okIn && okOut)
            flows.append(flow);
    }
    m_chart->setFlows(flows);
}

std::optional<VersionRows> VersionEditor::edited()
{
    clearMarks();
    if (m_version.isEmpty() || !m_storedVersion.isValid())
        return std::nullopt;
    const QString version = m_storedVersion.toString();
    config::ConfigProblems unfit; // values their column cannot hold
    VersionRows rows;
    rows.pages = m_pages;

    // The setup as typed: check reads the texts as it reads stored values and names what
    // it cannot read. What it stores is each text as import would read it for its column.
    QVariantList typed;
    QVariantList stored;
    for (const QString& column : std::as_const(m_columns)) {
        const Field& field = m_fields[column.toLower()];
        if (column == QLatin1String("Version")) {
            typed.append(m_storedVersion);
            stored.append(m_storedVersion);
        } else if (auto* box = qobject_cast<QCheckBox*>(field.input)) {
            typed.append(qint64(box->isChecked() ? 1 : 0));
            stored.append(typed.last());
        } else {
            const QString text = static_cast<QLineEdit*>(field.input)->text();
            QString error;
            stored.append(fromCsvText(text, ColumnKind(field.kind), error));
            if (!error.isEmpty())
                unfit.append({QStringLiteral("tblSetup"), version, column, error});
            // A text is judged as it will be stored; a number as typed, in check's words.
            typed.append(ColumnKind(field.kind) == ColumnKind::Text || text.trimmed().isEmpty()
                             ? stored.last()
                             : QVariant(text.trimmed()));
        }
    }
    rows.setup = store::Row(m_columns, stored);
    QString unusedError;
    const QVariant scenario =
        fromCsvText(static_cast<QLineEdit*>(m_fields[QStringLiteral("scenarioused")].input)->text(), ColumnKind::Integer,
                    unusedError);

    config::ConfigProblems cells;
    const QStringList labelColumns = {QStringLiteral("version"), QStringLiteral("LabelNumber"), QStringLiteral("LabelName")};
    for (int r = 0; r < m_labels->rowCount(); ++r)
        rows.labels.append(store::Row(labelColumns, {m_storedVersion,
                                                     cellValue(m_labels, r, 0, ColumnKind::Real, QStringLiteral("tblLabels"),
                                                               QStringLiteral("LabelNumber"), version, cells),
                                                     cellValue(m_labels, r, 1, ColumnKind::Text, QStringLiteral("tblLabels"),
                                                               QStringLiteral("LabelName"), version, cells)}));
    const QStringList scenarioColumns = QStringList{QStringLiteral("Scenario")} + kScenarioColumns;
    for (int r = 0; r < m_scenario->rowCount(); ++r) {
        QVariantList values{scenario};
        for (int c = 0; c < kScenarioColumns.size(); ++c)
            values.append(cellValue(m_scenario, r, c, c == 0 ? ColumnKind::Integer : ColumnKind::Real,
                                    QStringLiteral("tblScenarios"), kScenarioColumns.at(c), version, cells));
        rows.scenario.append(store::Row(scenarioColumns, values));
    }

    // The version as check would find it once stored: the scale by LabelNumber.
    QList<int> labelOrder;
    for (int r = 0; r < rows.labels.size(); ++r)
        labelOrder.append(r);
    std::stable_sort(labelOrder.begin(), labelOrder.end(),
                     [&](int a, int b) { return lowerLabel(rows.labels.at(a), rows.labels.at(b)); });
    config::VersionConfig config;
    config.version = version;
    config.setup = store::Row(m_columns, typed);
    for (const int r : std::as_const(labelOrder))
        config.labels.append(rows.labels.at(r).value("LabelName"));
    config.scenario = rows.scenario;
    for (const store::Row& page : std::as_const(m_pages))
        config.pages.append(page.value("PageText"));
    config::ConfigProblems problems = config::checkVersion(config);
    if (problems.isEmpty())
        problems = config::checkDesign(config);
    // A label's row as the form shows it.
    for (config::ConfigProblem& p : problems)
        if (p.table == QLatin1String("tblLabels") && p.row >= 0)
            p.row = labelOrder.value(p.row, -1);
    // A cell that cannot be read is named for that, not also for the Null it became.
    QSet<QString> unread;
    for (const config::ConfigProblem& p : std::as_const(cells))
        unread.insert(QStringLiteral("%1/%2").arg(p.table).arg(p.row));
    problems.removeIf([&](const config::ConfigProblem& p) {
        return p.row >= 0 && unread.contains(QStringLiteral("%1/%2").arg(p.table).arg(p.row));
    });
    QSet<QString> named;
    for (const config::ConfigProblem& p : std::as_const(problems))
        named.insert(p.field.toLower());
    // A text check reads (2.5 as a whole number, rounded) and the column cannot hold.
    for (const config::ConfigProblem& p : std::as_const(unfit))
        if (!named.contains(p.field.toLower()))
            problems.append(p);
    problems += cells;
    if (problems.isEmpty())
        return rows;
    mark(problems);
    return std::nullopt;
}

bool VersionEditor::save()
{
    if (m_store.isBusy()) { // a reading of the console waits on a lock meanwhile
        say(QStringLiteral("The database is busy with a reading just now: try again in a moment."), true);
        return false;
    }
    const std::optional<VersionRows> rows = edited();
    if (!rows) {
        if (!m_version.isEmpty() && m_storedVersion.isValid())
            m_status->setText(QStringLiteral("Nothing was saved: ") + m_status->text());
        return false;
    }
    const Credentials given = m_askCredentials ? m_askCredentials() : std::nullopt;
    if (!given) {
        say(QStringLiteral("Nothing was saved."), false);
        return false;
    }
    const QString version = m_storedVersion.toString();
    try {
        if (!AccountMatches(m_store, given->first, given->second)) {
            say(QStringLiteral("Wrong user name or password: nothing was saved."), true);
            return false;
        }
        const QVariant scenario = rows->setup.value("ScenarioUsed");
        m_store.transaction(
            [&](store::Connection& c) {
                // Nothing stored is overwritten unseen.
                if (versionState(c, version) != m_loadedVersionState ||
                    scenarioState(c, m_loadedScenario) != m_loadedScenarioState)
                    throw ChangedMeanwhile{};
                store::SetupTable::replace(c, version, rows->setup);
                store::LabelTable::replace(c, version, rows->labels);
                store::ScenarioTable::replace(c, scenario, rows->scenario);
                // Every version that plays the scenario, judged as check will judge it
                // once this is committed (the reads see the writes above).
                QStringList found;
                QStringList judged = store::SetupTable::versionsUsing(c, scenario);
                if (!judged.contains(version, Qt::CaseInsensitive))
                    judged.prepend(version);
                for (const QString& v : std::as_const(judged))
                    found += versionProblems(m_store, v);
                if (!found.isEmpty())
                    throw Refused{found};
            },
            false, QStringLiteral("Saving a version"));
    } catch (const ChangedMeanwhile&) {
        say(QStringLiteral("Nothing was saved: version \"%1\" or its scenario was changed in the database since it "
                           "was shown here (by another console or an import). Note your changes, then choose the "
                           "version again to see what is stored.")
                .arg(printable(version)),
            true);
        return false;
    } catch (const Refused& refused) {
        say(QStringLiteral("Nothing was saved: the versions that play this scenario would have problems:\n") +
                refused.problems.join(QLatin1Char('\n')),
            true);
        return false;
    } catch (const std::exception& error) {
        say(QStringLiteral("Nothing was saved: %1").arg(QString::fromUtf8(error.what())), true);
        return false;
    }
    load(m_version);
    say(QStringLiteral("Saved version \"%1\"; check finds it sound.").arg(printable(version)), false);
    emit saved(version);
    return true;
}

QString VersionEditor::shown() const
{
    QStringList parts;
    for (const QString& column : m_columns)
        parts.append(fieldText(column));
    for (const QTableWidget* table : {m_scenario, m_labels})
        for (int r = 0; r < table->rowCount(); ++r)
            for (int c = 0; c < table->columnCount(); ++c)
                parts.append(table->item(r, c) ? table->item(r, c)->text() : QString());
    return parts.join(QLatin1Char('\n'));
}

QString VersionEditor::fieldText(const QString& column) const
{
    const auto found = m_fields.find(column.toLower());
    if (found == m_fields.end())
        return {};
    if (auto* box = qobject_cast<QCheckBox*>(found->input))
        return box->isChecked() ? QStringLiteral("1") : QStringLiteral("0");
    return static_cast<QLineEdit*>(found->input)->text().trimmed();
}

QString VersionEditor::problemAt(const QString& field) const
{
    const auto found = m_fields.find(field.toLower());
    return found == m_fields.end() || found->problem->isHidden() ? QString() : found->problem->text();
}

void VersionEditor::clearMarks()
{
    for (Field& field : m_fields) {
        field.input->setStyleSheet(QString());
        if (field.input->objectName() != QLatin1String("txtVersion"))
            field.input->setToolTip(QString());
        field.problem->clear();
        field.problem->hide();
    }
    for (QTableWidget* table : {m_scenario, m_labels}) {
        const bool blocked = table->blockSignals(true);
        for (int r = 0; r < table->rowCount(); ++r)
            for (int c = 0; c < table->columnCount(); ++c)
                if (QTableWidgetItem* item = table->item(r, c)) {
                    item->setBackground(QBrush());
                    item->setToolTip(QString());
                }
        table->blockSignals(blocked);
    }
    say(QString(), false);
}

void VersionEditor::mark(const config::ConfigProblems& problems)
{
    QStringList elsewhere;
    int placed = 0;
    for (const config::ConfigProblem& p : problems) {
        if (p.table == QLatin1String("tblSetup") && m_fields.contains(p.field.toLower())) {
            Field& field = m_fields[p.field.toLower()];
            const QString text = field.problem->text().isEmpty() ? p.message
                                                                 : field.problem->text() + QLatin1Char('\n') + p.message;
            field.problem->setText(text);
            field.problem->show();
            field.input->setToolTip(text);
            field.input->setStyleSheet(qobject_cast<QLineEdit*>(field.input)
                                           ? kMarked
                                           : QStringLiteral("QCheckBox { color: rgb(210, 0, 0); }"));
            ++placed;
            continue;
        }
        QTableWidget* table = p.table == QLatin1String("tblScenarios") ? m_scenario
                              : p.table == QLatin1String("tblLabels") ? m_labels
                                                                       : nullptr;
        const QStringList& columns = table == m_scenario ? kScenarioColumns : kLabelColumns;
        const int column = int(columns.indexOf(p.field));
        if (table && p.row >= 0 && p.row < table->rowCount() && column >= 0) {
            const bool blocked = table->blockSignals(true);
            QTableWidgetItem* item = table->item(p.row, column);
            if (!item) {
                item = new QTableWidgetItem;
                table->setItem(p.row, column, item);
            }
            item->setBackground(kMarkedCell);
            item->setToolTip(item->toolTip().isEmpty() ? p.message : item->toolTip() + QLatin1Char('\n') + p.message);
            table->blockSignals(blocked);
            ++placed;
            continue;
        }
        elsewhere.append(p.text());
    }
    QString text = QStringLiteral("%1 problem%2").arg(problems.size()).arg(problems.size() == 1 ? QString() : QStringLiteral("s"));
    if (placed > 0)
        text += QStringLiteral(", marked in red at %1 (the tooltip says what is wrong)")
                    .arg(placed == problems.size() ? QStringLiteral("their fields") : QStringLiteral("%1 fields").arg(placed));
    if (!elsewhere.isEmpty())
        text += QStringLiteral(":\n") + elsewhere.join(QLatin1Char('\n'));
    say(text + QLatin1Char('.'), true);
}

void VersionEditor::say(const QString& text, bool bad)
{
    m_status->setText(text);
    m_status->setStyleSheet(bad ? QStringLiteral("color: rgb(190, 0, 0);") : QString());
}

} // namespace aquilevel::tools

#pragma once

#include "config/ConfigProblem.h"
#include "store/Row.h"

#include <QMap>
#include <QWidget>

#include <functional>
#include <optional>
#include <utility>

class QLabel;
class QPushButton;
class QTableWidget;

namespace aquilevel::store {
class Store;
}

namespace aquilevel::tools {

class ScenarioChart;

// One version's configuration as rows of its tables, shown columns by name.
struct VersionRows {
    store::Row setup;
    QList<store::Row> labels;   // version, LabelNumber, LabelName, bottom to top
    QList<store::Row> scenario; // Scenario, Trial, inFlowRateEnviron, outFlowRateEnviron
    QList<store::Row> pages;    // version, PageNumber, PageText (not edited here)
};

// The form of one version: every column of its tblSetup row, its scenario (with a chart
// of the environment's flows) and its scale labels. Save judges the edit by the rules of
// `check`, names each problem at its field, and stores a sound edit in one transaction
// after an experimenter's password; nothing when anything is wrong.
class VersionEditor final : public QWidget {
    Q_OBJECT
public:
    explicit VersionEditor(store::Store& store, QWidget* parent = nullptr);

    // Shows the version as stored; an empty name (or a failed read) empties the form.
    void load(const QString& version);
    QString version() const { return m_version; }

    // The edit as rows to store or play; none when it has problems, each then shown at
    // its field (a red frame, check's words under it and in its tooltip).
    std::optional<VersionRows> edited();

    // Checks the edit, asks for the experimenter's name and password, and stores the
    // whole version in one write transaction. Returns true when it was stored; the status
    // line says what was done or why not.
    bool save();

    // What the experimenter types to be let save (the console's own dialog).
    using Credentials = std::optional<std::pair<QString, QString>>;
    void setCredentialsSource(std::function<Credentials()> ask) { m_askCredentials = std::move(ask); }

    // Whether the form shows anything else than what was loaded or last saved.
    bool hasChanges() const { return shown() != m_loaded; }

    // A tblSetup field as the form shows it now (a yes/no one as 1 or 0).
    QString fieldText(const QString& column) const;
    // The problem shown at a tblSetup field; empty when none.
    QString problemAt(const QString& field) const;
    ScenarioChart& chart() { return *m_chart; }

signals:
    void loaded(const QString& version);
    void saved(const QString& version);

private:
    struct Field {
        QWidget* input = nullptr; // a QLineEdit, or a QCheckBox for a yes/no column
        QLabel* problem = nullptr;
        int kind = 0;             // the column's ColumnKind
    };
    QString shown() const; // every field and cell as shown, one text
    void fillSetup(const std::optional<store::Row>& row);
    void fillTable(QTableWidget* table, const QList<store::Row>& rows, const QStringList& columns);
    void addRow(QTableWidget* table, bool period);
    void updateChart();
    void switchScenario();
    void describeScenario(QStringList sharing, bool fresh);
    void clearMarks();
    void mark(const config::ConfigProblems& problems);
    void say(const QString& text, bool bad);

    store::Store& m_store;
    std::function<Credentials()> m_askCredentials;
    QString m_version;
    QString m_loaded; // shown() after the last load
    // The stored rows the form was filled from, and their scenario: a save refuses when
    // they changed meanwhile.
    QString m_loadedVersionState;
    QString m_loadedScenarioState;
    QVariant m_loadedScenario;
    QVariant m_storedVersion; // the Version as stored: the key is not edited
    QList<store::Row> m_pages;
    QMap<QString, Field> m_fields; // by column name in lower case
    QStringList m_columns;         // the shown columns of tblSetup, in table order
    QTableWidget* m_scenario = nullptr;
    QTableWidget* m_labels = nullptr;
    ScenarioChart* m_chart = nullptr;
    QLabel* m_scenarioNote = nullptr;
    QString m_shownScenario; // the scenario whose rows the table shows
    qint64 m_played = 0;     // participants with rows of the version
    QLabel* m_status = nullptr;
    QPushButton* m_save = nullptr;
};

} // namespace aquilevel::tools

#pragma once

#include <QDateTime>
#include <QMainWindow>

#include <functional>
#include <optional>
#include <utility>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLineEdit;
class QProgressBar;
class QSplitter;
class QPushButton;
class QLabel;
class QListWidget;
class QPlainTextEdit;
class QTableView;
class QTableWidget;
class QTimer;

namespace aquilevel::store {
class Store;
}

namespace aquilevel::tools {

class StationsModel;
struct ParticipantProgress;
struct PaymentSelection;
class VersionEditor;

// The experimenter's window on a lab: the stations live, the versions with what check
// says of each, and what to pay whom. Every reading is one short read of the store, so
// the console never holds up a station's writes.
class ConsoleWindow final : public QMainWindow {
    Q_OBJECT
public:
    // `now` says what time it is (a test seam); the window refreshes itself every
    // `refreshMs` milliseconds.
    ConsoleWindow(store::Store& store, std::function<QDateTime()> now, int refreshMs = 3000,
                  QWidget* parent = nullptr);

    // Reads the stations and the payments again.
    void refresh();
    // Runs check on every version again.
    void checkVersions();

    StationsModel& stations() { return *m_stations; }

    // What the experimenter types to be let act: a user name and a password, or nothing
    // when they cancel. A dialog by default; a test gives its own.
    using Credentials = std::optional<std::pair<QString, QString>>;
    void setCredentialsSource(std::function<Credentials()> ask) { m_askCredentials = std::move(ask); }

    // The data tables into a new folder inside `parent`, named after the study and the
    // day, with "-2", "-3", ... when one of that name is there: a second export never
    // overwrites the first. Returns the folder written, or an empty text (said in the
    // status line) when it failed.
    QString exportInto(const QString& parent);
    void setStudyName(const QString& name)
    {
        if (!name.isEmpty())
            m_study = name;
    }
    void setFolderSource(std::function<QString()> choose) { m_chooseFolder = std::move(choose); }

    // The stations table as text, a line a row and a tab between cells, with its header:
    // what Ctrl+C puts on the clipboard, for a spreadsheet or a note of the session.
    QString stationsText() const;

    // Selects the row of the stations table, as a click would.
    void selectStation(int row);
    // Ends the hold a station has on the selected participant, after an experimenter's
    // password; says in the status line what was done or why not.
    void releaseSelected();
    // Opens a replay of the selected participant's session in a window of its own.
    void replaySelected();
    // Marks the selected participant as a pilot or excluded (store::MarkRow::kPilot,
    // kExcluded) with a reason, or takes the mark back (empty), after an experimenter's
    // password; says in the status line what was done or why not.
    void markSelected(const QString& mark, const QString& reason);
    // The pay sheet of the day and version shown, rounded up to the unit typed: a PDF or,
    // for a name ending in .csv, CSV. False, said in the status line, when not written.
    bool writePaySheet(const QString& path);

private:
    void showProblemsOf(int row);
    void showSessionOf(int row);
    int selectedStation() const;
    // The selected row when it is a participant's, else -1 (said in the status line).
    int selectedParticipant();
    void fillPayments(const QList<ParticipantProgress>& participants);
    PaymentSelection paymentSelection() const;
    void askMark();
    // False, said in the status line, while a reading waits on the store.
    bool storeFree();
    // The experimenter's user name and password checked; false, said, when refused.
    bool experimenterLetIn(const QString& refusal);

    store::Store& m_store;
    std::function<QDateTime()> m_now;
    StationsModel* m_stations = nullptr;
    QTableView* m_stationsView = nullptr;
    QSplitter* m_live = nullptr;
    bool m_sized = false;
    QLabel* m_session = nullptr;
    QPushButton* m_release = nullptr;
    std::function<Credentials()> m_askCredentials;
    QListWidget* m_versions = nullptr;
    QPlainTextEdit* m_problems = nullptr;
    QStringList m_versionProblems; // one text per row of m_versions
    QStringList m_versionNames;
    VersionEditor* m_editor = nullptr;
    QDateEdit* m_day = nullptr;
    QComboBox* m_payVersion = nullptr;
    QString m_paymentsShown; // the day and version whose payments the table shows
    QLineEdit* m_roundUp = nullptr;
    QCheckBox* m_includePilots = nullptr;
    QCheckBox* m_includeExcluded = nullptr;
    QCheckBox* m_withAnalysis = nullptr;
    QCheckBox* m_byteOrderMark = nullptr;
    QTableWidget* m_payments = nullptr;
    QLabel* m_status = nullptr;
    QProgressBar* m_exportProgress = nullptr;
    QString m_study = QStringLiteral("aquilevel");
    std::function<QString()> m_chooseFolder;
    QTimer* m_timer = nullptr;
};

// aquilevel console: opens the window on the data folder's database (or the server).
int runConsole(const QString& dataFolder);

} // namespace aquilevel::tools

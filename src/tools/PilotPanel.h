#pragma once

#include <QWidget>

#include <memory>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QProcess;
class QProgressBar;
class QPushButton;
class QTemporaryDir;

namespace aquilevel::tools {

class VersionEditor;

// Plays the version in the editor, as edited, with a bot in a throwaway database: a new
// encrypted file in a temporary folder that holds only this version's configuration.
// The bot runs as a child process of the program (`bot --db FILE`), so the window stays
// responsive; the file is removed when it is done. Shows the participant's picture and
// the money earned, or the bot's own message.
class PilotPanel final : public QWidget {
    Q_OBJECT
public:
    explicit PilotPanel(VersionEditor& editor, QWidget* parent = nullptr);
    ~PilotPanel() override;

    // The program that plays (one that has the bot command); the running one by default.
    void setProgram(const QString& program) { m_program = program; }
    // The clock of a time-driven pilot when "fast clock" is ticked, in ms a period.
    static constexpr int kFastClockMs = 150;

    // Starts a pilot of the version as edited; false (and said why) when it cannot.
    bool start();
    void stop();
    bool isRunning() const;
    // What the last pilot came to: the earnings line, or why it failed.
    QString result() const;

signals:
    void finished(bool played);

private:
    void describe();
    void done(int exitCode, bool crashed);
    void say(const QString& text, bool bad);

    VersionEditor& m_editor;
    QString m_program;
    QString m_playedVersion;
    std::unique_ptr<QTemporaryDir> m_folder;
    QString m_database;
    QProcess* m_process = nullptr;
    QString m_errors;
    int m_periods = 0;
    QComboBox* m_policy = nullptr;
    QDoubleSpinBox* m_alpha = nullptr;
    QDoubleSpinBox* m_beta = nullptr;
    QCheckBox* m_fastClock = nullptr;
    QLabel* m_time = nullptr;
    QPushButton* m_run = nullptr;
    QPushButton* m_stop = nullptr;
    QProgressBar* m_progress = nullptr;
    QLabel* m_picture = nullptr;
    QLabel* m_result = nullptr;
};

} // namespace aquilevel::tools

#pragma once

#include "store/DataRows.h"
#include "store/Row.h"

#include <QDateTime>
#include <QMap>

#include <functional>
#include <optional>

namespace aquilevel::store {

class Connection;

// The homes of the data tables: every read and write of a session's rows. A participant
// and a version are found by their keys (nameKey), on the file and the server alike.

class SubjectTable {
public:
    static void append(Connection& c, const SubjectRow& row);
    // The spelling the name was registered with in the version; null when it was not.
    static QString registeredName(Connection& c, const QString& version, const QString& typed);
    // The spelling the name's rows in the other data tables carry in the version, for a
    // participant who played without a registration row (a database of an older program,
    // a scripted session killed before it registered); null when the version has none.
    static QString nameInRows(Connection& c, const QString& version, const QString& typed);
    // Every registration (Subject, Version, Date, Time), of one version or all, written
    // at or after `since` (UTC; invalid for all), in the order written.
    static QList<Row> registrations(Connection& c, const QString& version = {}, const QDateTime& since = {});
    // Names registered in one version that differ only in letter case, so that the
    // program finds them as one participant: the version and the spellings of each.
    struct SharedKey {
        QString version;
        QStringList spellings;
    };
    static QList<SharedKey> namesSharingAKey(Connection& c);
    // The participants registered in a version who have no event rows.
    static qint64 countWithoutEvents(Connection& c, const QString& version);
    // The participant's first registration in the version (Station, Condition, Major,
    // Gender, Age, Date, Time); none when there is none.
    static std::optional<Row> registration(Connection& c, const QString& version, const QString& subject);
};

class EventTable {
public:
    static void append(Connection& c, const EventRow& row);
    // The participant's newest row, every column; none when there is none. Of two rows
    // with one EventID the one stored last is newer.
    static std::optional<Row> newest(Connection& c, const QString& subject, const QString& version);
    // The participant's newest row of one period.
    static std::optional<Row> newestOfPeriod(Connection& c, const QString& subject, const QString& version,
                                             qint32 trial);
    static bool any(Connection& c, const QString& subject, const QString& version);
    // The participant's newest EventID; 0 without rows.
    static qint32 lastEventId(Connection& c, const QString& subject, const QString& version);
    // The moment the participant's newest row was written (UTC); invalid when unknown.
    static QDateTime lastWritten(Connection& c, const QString& subject, const QString& version);
    // The rows of a version (of one participant, or of one event type), with the
    // columns asked for, in the order of the events; only those stored up to the row
    // position `through` (lastRowPosition) when it is given.
    static void forEach(Connection& c, const QStringList& columns, const QString& version, const QString& subject,
                        const QString& eventType, const std::function<void(const Row&)>& take,
                        std::optional<qint64> through = {});
    // The newest row of each participant (of one version, or all) who wrote a row at or
    // after `since` (UTC), with the columns asked for.
    static QList<Row> newestOfEach(Connection& c, const QStringList& columns, const QString& version,
                                   const QDateTime& since);
    // The newest row of each of the next `participants` participants (of one version or
    // all) whose keys follow `after`, with the columns asked for. Sets `after` to the last
    // key read, empty when there are no more: a caller reads a large log in short steps.
    static QList<Row> newestOfNext(Connection& c, const QStringList& columns, const QString& version, QString& after,
                                   int participants);
    // The oldest row of each participant (of one version or all) whose key follows
    // `after` up to `through`, as newestOfNext read them: where each session began.
    static QList<Row> oldestOfRange(Connection& c, const QStringList& columns, const QString& version,
                                    const QString& after, const QString& through);
    // The next `participants` participants with rows in a version whose keys follow
    // `after`, one spelling each; sets `after` to the last key read, empty when there
    // are no more: a caller reads a large log in short steps.
    static QStringList subjects(Connection& c, const QString& version, QString& after, int participants);
    // How many participants have rows in a version.
    static qint64 participants(Connection& c, const QString& version);
};

class TrialSummaryTable {
public:
    static void append(Connection& c, const PeriodOpened& row);
    // Completes the period's row; returns false when the period has none.
    static bool complete(Connection& c, const QString& subject, const QString& version, qint32 trial,
                         const PeriodCompleted& values);
    // The columns complete() sets: all a station may change in a summary row.
    static QStringList completedColumns();
    // The newest period the participant's rows opened; 0 when none.
    static qint32 lastOpened(Connection& c, const QString& subject, const QString& version);
    // The times each of the participant's rows holds (Trial, Date, startTime, endTime), in
    // the order written.
    static QList<Row> times(Connection& c, const QString& subject, const QString& version);
};

class SubmitTimeTable {
public:
    static void append(Connection& c, const SubmitTimeRow& row);
    // The time of the participant's latest press; invalid when there was none.
    static QTime lastPress(Connection& c, const QString& subject, const QString& version);
};

class QuestionnaireTable {
public:
    static void append(Connection& c, const AnswerRow& row);
    // How many of the questions numbered 1 to `questions` the participant answered.
    static int answered(Connection& c, const QString& subject, const QString& version, int questions);
    // The participant's answers by question number, the newest of each.
    static QMap<int, QString> answers(Connection& c, const QString& subject, const QString& version);
};

// The marks that set participants apart from the analyses and the payments. A
// participant's newest row (in the order of writing) is its mark.
class MarkTable {
public:
    static void append(Connection& c, const MarkRow& row);
    // The participant's current mark; empty when it has none or it was taken back.
    static QString mark(Connection& c, const QString& subject, const QString& version);
    struct Marked {
        QString subject;
        QString version;
        QString mark;
        QString reason;
    };
    // The current mark of every marked participant (of one version, or all), in the
    // order they were marked; participants whose mark was taken back are not among them.
    static QList<Marked> marks(Connection& c, const QString& version = {});
};

} // namespace aquilevel::store

// Several copies of the program record events into one database at the same time:
// every row must arrive exactly once, and none of them may need to ask the person.

#include "store/DataLocation.h"
#include "store/SqlCipherConnection.h"
#include "store/SqlCipherEngine.h"
#include "support/TempDatabase.h"

#include <QFileInfo>
#include <QProcess>
#include <QtTest>

#include <algorithm>
#include <array>
#include <limits>

using namespace aquilevel;
using aquilevel::test::TempDatabase;

class TestConcurrentAppends : public QObject {
    Q_OBJECT

private slots:
    void fourProcessesAppendTwoHundredRowsEach()
    {
        constexpr int kWorkers = 4;
        constexpr int kRows = 200;
        const QString helper =
            qEnvironmentVariable("AQUILEVEL_TEST_BIN") + QStringLiteral("/helper_appendworker");
        QVERIFY2(QFileInfo(helper).isExecutable(), qPrintable(helper));

        TempDatabase db;
        std::array<QProcess, kWorkers> workers;
        auto tag = [](int k) { return QStringLiteral("worker%1").arg(k + 1); };
        for (int k = 0; k < kWorkers; ++k) {
            workers[k].start(helper, {db.path(), tag(k), QString::number(kRows), QStringLiteral("--gate")});
            QVERIFY2(workers[k].waitForStarted(10000), qPrintable(workers[k].errorString()));
        }
        // Each worker has opened the database once it says so; then all start together.
        for (int k = 0; k < kWorkers; ++k) {
            while (!workers[k].canReadLine())
                QVERIFY2(workers[k].waitForReadyRead(30000),
                         qPrintable(tag(k) + QStringLiteral(" never became ready: ") +
                                    QString::fromLocal8Bit(workers[k].readAllStandardError())));
            QCOMPARE(workers[k].readLine().trimmed(), QByteArray("ready"));
        }
        // QProcess writes only inside its wait calls: push "go" out to every worker now,
        // not when the test gets round to waiting for that worker.
        for (auto& worker : workers)
            worker.write("go\n");
        for (auto& worker : workers) {
            QVERIFY(worker.waitForBytesWritten(10000));
            worker.closeWriteChannel();
        }
        for (int k = 0; k < kWorkers; ++k) {
            QVERIFY2(workers[k].waitForFinished(60000), qPrintable(tag(k) + QStringLiteral(" did not finish")));
            const QString errors = QString::fromLocal8Bit(workers[k].readAllStandardError());
            QCOMPARE(workers[k].exitStatus(), QProcess::NormalExit);
            QVERIFY2(workers[k].exitCode() == 0,
                     qPrintable(QStringLiteral("%1 exit code %2: %3")
                                    .arg(tag(k)).arg(workers[k].exitCode()).arg(errors)));
        }

        auto connection = store::SqlCipherConnection::open(db.path(), store::databasePassword(), false,
                                                           store::SqlCipherEngine::kBusyTimeoutMs);
        auto scalar = [&](const QString& sql, const QVariantList& params = {}) {
            return connection->value(store::Sql(sql), params);
        };
        QCOMPARE(scalar(QStringLiteral("select count(*) from datExperimentTrials")).toInt(), kWorkers * kRows);
        QCOMPARE(scalar(QStringLiteral("select count(*) from (select distinct Subject, EventID "
                                       "from datExperimentTrials)")).toInt(),
                 kWorkers * kRows);
        QVariantList expectedIds;
        for (int i = 1; i <= kRows; ++i)
            expectedIds.append(qint64(i));
        for (int k = 0; k < kWorkers; ++k) {
            const store::Rows ids = connection->query(
                store::Sql("SELECT EventID FROM datExperimentTrials WHERE Subject = $1 ORDER BY EventID"), {tag(k)});
            QVariantList actual;
            for (const auto& row : ids.values)
                actual.append(row.at(0));
            QCOMPARE(actual, expectedIds);
        }
        // Every row is whole: none of its 40 columns (and the two the store stamps, and
        // the two keys) was lost on the way. The last column, the write step's token, is
        // filled on a server only: on a file every row leaves it empty.
        const QStringList columns =
            connection->query(store::Sql("SELECT * FROM datExperimentTrials WHERE 0")).columns;
        QCOMPARE(columns.size(), 45);
        QCOMPARE(columns.last(), QStringLiteral("WriteToken"));
        QCOMPARE(scalar(QStringLiteral("select count(*) from datExperimentTrials where WriteToken is not null")).toInt(),
                 0);
        QStringList nulls;
        for (const QString& column : columns.mid(0, columns.size() - 1))
            nulls.append(QLatin1Char('"') + column + QStringLiteral("\" is null"));
        QCOMPARE(scalar(QStringLiteral("select count(*) from datExperimentTrials where ") +
                        nulls.join(QStringLiteral(" or ")))
                     .toInt(),
                 0);

        // The workers really competed: all four were appending during a common interval.
        // (SQLite hands its write lock to whoever asks first after a commit, so a running
        // writer tends to keep it; the rows need not alternate in the file.)
        qint64 firstStart = std::numeric_limits<qint64>::max();
        qint64 lastStart = 0;
        qint64 lastFinish = 0;
        qint64 firstFinish = std::numeric_limits<qint64>::max();
        int backoffTotal = 0;
        for (int k = 0; k < kWorkers; ++k) {
            const QString out = QString::fromLatin1(workers[k].readAllStandardOutput());
            static const QRegularExpression started(QStringLiteral("started (\\d+)"));
            static const QRegularExpression finished(QStringLiteral("finished (\\d+)"));
            const auto s = started.match(out);
            const auto f = finished.match(out);
            QVERIFY2(s.hasMatch() && f.hasMatch(), qPrintable(out));
            firstStart = std::min(firstStart, s.captured(1).toLongLong());
            lastStart = std::max(lastStart, s.captured(1).toLongLong());
            firstFinish = std::min(firstFinish, f.captured(1).toLongLong());
            lastFinish = std::max(lastFinish, f.captured(1).toLongLong());
            static const QRegularExpression backoffs(QStringLiteral("backoffs (\\d+)"));
            backoffTotal += backoffs.match(out).captured(1).toInt();
        }
        qInfo("%d rows in %lld ms; the store backed off %d times", kWorkers * kRows,
              lastFinish - firstStart, backoffTotal);
        QVERIFY2(lastStart < firstFinish,
                 qPrintable(QStringLiteral("a worker finished %1 ms before the last one started")
                                .arg(lastStart - firstFinish)));
    }
};

QTEST_GUILESS_MAIN(TestConcurrentAppends)
#include "tst_concurrentappends.moc"

#include "config/ConfigCheck.h"

#include "config/ControlCharacters.h"
#include "config/ExperimentSetup.h"
#include "config/Languages.h"
#include "config/NumberFormat.h"
#include "store/Row.h"

#include <QSet>

#include <cmath>
#include <limits>

namespace aquilevel::config {

const QString kAfterEveryNTrialsMessage =
    QStringLiteral("Value of AfterEveryNTrials should be greater than 0");
const QString kInitialOrdersMessage =
    QStringLiteral("Value of inFlowTPAfter or outFlowTPAfter is 1 and your initial Back or "
                   "Forward orders are not set to 0");

namespace {

// A text with its control characters written as \xNN, fit for one line of a report.
QString printable(const QString& text)
{
    QString shown;
    for (const QChar ch : text)
        shown += isControlCharacter(ch) ? QStringLiteral("\\x%1").arg(ch.unicode(), 2, 16, QLatin1Char('0')) : QString(ch);
    return shown;
}

class Checker {
public:
    Checker(const QString& version, ConfigProblems& problems)
        : m_version(version), m_problems(problems)
    {
        for (const ConfigProblem& p : problems)
            m_unreadable.insert(p.field);
    }

    // A rule is judged only when all its fields could be read.
    bool readable(std::initializer_list<const char*> fields) const
    {
        for (const char* f : fields)
            if (m_unreadable.contains(QString::fromLatin1(f)))
                return false;
        return true;
    }

    void setup(const char* field, const QString& message)
    {
        m_problems.append({QStringLiteral("tblSetup"), m_version, QString::fromLatin1(field), message});
    }

    void standalone(const char* field, const QString& message)
    {
        m_problems.append(
            {QStringLiteral("tblSetup"), m_version, QString::fromLatin1(field), message, true});
    }

    void add(const QString& table, const QString& field, const QString& message, int row = -1)
    {
        m_problems.append({table, m_version, field, message, false, row});
    }

private:
    QString m_version;
    ConfigProblems& m_problems;
    QSet<QString> m_unreadable;
};

void checkSetupRules(const ExperimentSetup& s, Checker& c)
{
    if (c.readable({"AfterEveryNTrials"}) && s.AfterEveryNTrials < 1)
        c.standalone("AfterEveryNTrials", kAfterEveryNTrialsMessage);
    if (c.readable({"InitialBackOrder", "inFlowTPAfter", "InitialForwardDischarge", "outFlowTPAfter"})) {
        const bool backOrderStuck = s.InitialBackOrder != 0 && s.inFlowTPAfter == 1;
        if (backOrderStuck || (s.InitialForwardDischarge != 0 && s.outFlowTPAfter == 1))
            c.standalone(backOrderStuck ? "inFlowTPAfter" : "outFlowTPAfter", kInitialOrdersMessage);
    }
    if (c.readable({"MaxTrial"}) && s.MaxTrial < 1)
        c.setup("MaxTrial", QStringLiteral("%1 periods; a session needs at least 1").arg(s.MaxTrial));
    if (c.readable({"numMarks"}) && (s.numMarks < 1 || s.numMarks > 10))
        c.setup("numMarks", QStringLiteral("%1 marks; the tank scale has 1 to 10").arg(s.numMarks));

    const auto checkDelay = [&](const char* field, qint16 delay) {
        if (!c.readable({field, "MaxTrial"}))
            return;
        if (delay < 1)
            c.setup(field, QStringLiteral("a delay of %1 periods; it must be at least 1").arg(delay));
        else if (qint64(delay) - 1 > qint64(s.MaxTrial) + 1)
            c.setup(field, QStringLiteral("a delay of %1 periods is longer than the %2 periods of "
                                          "the session allow (at most %3)")
                               .arg(delay)
                               .arg(s.MaxTrial)
                               .arg(qint64(s.MaxTrial) + 2));
    };
    checkDelay("inFlowTPAfter", s.inFlowTPAfter);
    checkDelay("outFlowTPAfter", s.outFlowTPAfter);

    const auto checkInterval = [&](const char* field, qint32 ms) {
        if (c.readable({field}) && ms < 1)
            c.setup(field, QStringLiteral("an interval of %1 ms; it must be at least 1 ms").arg(ms));
    };
    checkInterval("envDelay", s.envDelay);
    checkInterval("EnvMv", s.EnvMv);
    checkInterval("userDelay", s.userDelay);
    checkInterval("UsrMv", s.UsrMv);

    if (c.readable({"IsTimeDriven", "TimeBetweenEnvTries"}) && s.IsTimeDriven) {
        const double interval = roundHalfEven(s.TimeBetweenEnvTries);
        if (interval < 1 || interval > std::numeric_limits<qint32>::max())
            c.setup("TimeBetweenEnvTries",
                    QStringLiteral("%1 ms gives the clock of a time-driven version an interval of "
                                   "%2 ms; it must be 1 to %3 ms")
                        .arg(generalNumber(s.TimeBetweenEnvTries), generalNumber(interval))
                        .arg(std::numeric_limits<qint32>::max()));
    }
    if (c.readable({"MaxNumberOfAScenarioType", "MaxTrial"}) &&
        qint64(s.MaxNumberOfAScenarioType) + 1 < qint64(s.MaxTrial))
        c.setup("MaxNumberOfAScenarioType",
                QStringLiteral("the scenario runs to period %1, short of the %2 periods of the "
                               "session (it must be at least %3)")
                    .arg(qint64(s.MaxNumberOfAScenarioType) + 1)
                    .arg(s.MaxTrial)
                    .arg(qint64(s.MaxTrial) - 1));
    if (c.readable({"RHEIGHT"}) && !(s.RHEIGHT > 0))
        c.setup("RHEIGHT", QStringLiteral("a block height of %1 pixels; it must be positive")
                               .arg(generalNumber(s.RHEIGHT)));
    if (c.readable({"RWIDTH"}) && !(s.RWIDTH > 0))
        c.setup("RWIDTH", QStringLiteral("a block width of %1 pixels; it must be positive")
                              .arg(generalNumber(s.RWIDTH)));

    // What the participant reads: a language the program has texts for, and money it
    // can write.
    if (!s.Language.isEmpty() && !knownLanguages().contains(s.Language))
        c.setup("Language", QStringLiteral("\"%1\" is no language the program knows (%2; empty is English)")
                                .arg(printable(s.Language), knownLanguages().join(QStringLiteral(", "))));
    if (c.readable({"CurrencyDecimals"}) && (s.CurrencyDecimals < 0 || s.CurrencyDecimals > 4))
        c.setup("CurrencyDecimals",
                QStringLiteral("%1 decimals; money is shown with 0 to 4").arg(s.CurrencyDecimals));
    const std::pair<const char*, const QString*> words[] = {
        {"CurrencySymbol", &s.CurrencySymbol}, {"CurrencyWord", &s.CurrencyWord}, {"CurrencyCents", &s.CurrencyCents}};
    for (const auto& [field, word] : words)
        if (word->trimmed().isEmpty()) // Null is the default; an empty text would leave a gap
            c.setup(field, QStringLiteral("is empty; leave it Null for the default"));
        else if (hasControlCharacters(*word))
            c.setup(field, QStringLiteral("\"%1\" holds a control character (a tab, a line break); "
                                          "it is shown in the participant's texts")
                               .arg(printable(*word)));
}

void checkLabels(const QVariantList& captions, const ExperimentSetup& s, Checker& c)
{
    const QString table = QStringLiteral("tblLabels");

    if (c.readable({"numMarks"}) && captions.size() < s.numMarks)
        c.add(table, QStringLiteral("LabelName"),
              QStringLiteral("%1 labels for %2 scale marks; every mark needs one")
                  .arg(captions.size())
                  .arg(s.numMarks));
    for (int i = 0; i < captions.size() && i < s.numMarks; ++i)
        if (captions.at(i).isNull())
            c.add(table, QStringLiteral("LabelName"),
                  QStringLiteral("the caption of label %1 from the bottom is empty (Null)").arg(i + 1), i);
    if (captions.isEmpty())
        return;
    const QString top = captions.last().toString();
    if (!beginsWithNumber(top) || !(leadingNumber(top) > 0))
        c.add(table, QStringLiteral("LabelName"),
              QStringLiteral("the top label \"%1\" does not begin with a positive number, which "
                             "sets the scale of the tank")
                  .arg(top),
              int(captions.size()) - 1);
}

void checkScenario(const QList<store::Row>& scenario, const ExperimentSetup& s, Checker& c)
{
    const QString table = QStringLiteral("tblScenarios");
    const qint64 last = qint64(s.MaxNumberOfAScenarioType) + 1;
    const qsizetype rows = scenario.size();
    for (int index = 0; index < rows; ++index) {
        const store::Row& row = scenario.at(index);
        const QVariant trial = row.value("Trial");
        const double period = trial.toDouble();
        if (trial.isNull() || period < 0 || period > last || period != std::floor(period))
            c.add(table, QStringLiteral("Trial"),
                  QStringLiteral("scenario %1 has a row for period %2, outside 0 to %3")
                      .arg(s.ScenarioUsed)
                      .arg(trial.isNull() ? QStringLiteral("(empty)") : trial.toString())
                      .arg(last),
                  index);
        for (const char* rate : {"inFlowRateEnviron", "outFlowRateEnviron"})
            if (row.value(rate).isNull())
                c.add(table, QString::fromLatin1(rate),
                      QStringLiteral("scenario %1, period %2: the rate is empty (Null)")
                          .arg(s.ScenarioUsed)
                          .arg(trial.toString()),
                      index);
    }
    if (rows == 0)
        c.add(table, QStringLiteral("Scenario"),
              QStringLiteral("scenario %1 has no rows").arg(s.ScenarioUsed));
}

} // namespace

ConfigProblems checkVersion(store::Store& store, const QString& version)
{
    return checkVersion(readVersionConfig(store, version, false));
}

ConfigProblems checkVersion(const VersionConfig& config)
{
    ConfigProblems problems;
    if (!config.setup) {
        problems.append({QStringLiteral("tblSetup"), config.version, QStringLiteral("Version"),
                         QStringLiteral("there is no row for this version")});
        return problems;
    }
    const ExperimentSetup setup = readSetupRow(*config.setup, config.version, problems);

    Checker checker(config.version, problems);
    checkSetupRules(setup, checker);
    if (checker.readable({"numMarks"}))
        checkLabels(config.labels, setup, checker);
    if (checker.readable({"ScenarioUsed", "MaxNumberOfAScenarioType"}))
        checkScenario(config.scenario, setup, checker);
    return problems;
}

} // namespace aquilevel::config

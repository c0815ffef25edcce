#include "config/ExperimentSetup.h"

#include "config/NumberFormat.h"
#include "store/EngineError.h"
#include "store/Row.h"

#include <cmath>
#include <limits>
#include <optional>

namespace aquilevel::config {

namespace {

const QString kSetupTable = QStringLiteral("tblSetup");

// Reads fields of one tblSetup row, noting every field that cannot be read.
class FieldReader {
public:
    FieldReader(const store::Row& row, const QString& version, ConfigProblems& problems)
        : m_row(row), m_version(version), m_problems(problems) {}

    void text(const char* name, QString& out, bool nullAllowed = false)
    {
        if (auto v = value(name, nullAllowed))
            out = v->isNull() ? QString() : v->toString();
    }

    // A column a row may lack or leave Null: `out` keeps its default then.
    void optionalText(const char* name, QString& out)
    {
        if (const QVariant v = optional(name); !v.isNull())
            out = v.toString();
    }

    template <typename Int>
    void optionalWhole(const char* name, Int& out)
    {
        if (!optional(name).isNull())
            whole(name, out);
    }

    void real(const char* name, double& out)
    {
        if (auto d = number(name))
            out = *d;
    }

    template <typename Int>
    void whole(const char* name, Int& out)
    {
        const auto d = number(name);
        if (!d)
            return;
        // Whole-number fields take a real value rounded halves-to-even, as the
        // original engine converted them.
        const double rounded = roundHalfEven(*d);
        constexpr auto low = std::numeric_limits<Int>::min();
        constexpr auto high = std::numeric_limits<Int>::max();
        if (rounded < low || rounded > high) {
            problem(name, QStringLiteral("%1 is outside the whole numbers it can hold (%2 to %3)")
                              .arg(generalNumber(*d))
                              .arg(low)
                              .arg(high));
            return;
        }
        out = static_cast<Int>(rounded);
    }

    void yesNo(const char* name, bool& out)
    {
        if (auto v = value(name, false))
            out = isYes(*v);
    }

private:
    QVariant optional(const char* name) const
    {
        try {
            return m_row.value(QString::fromLatin1(name));
        } catch (const store::StoreError&) {
            return {};
        }
    }

    std::optional<QVariant> value(const char* name, bool nullAllowed)
    {
        QVariant v;
        try {
            v = m_row.value(QString::fromLatin1(name));
        } catch (const store::StoreError&) {
            problem(name, QStringLiteral("the field is missing from the table"));
            return std::nullopt;
        }
        if (v.isNull() && !nullAllowed) {
            problem(name, QStringLiteral("the field is empty (Null)"));
            return std::nullopt;
        }
        return v;
    }

    std::optional<double> number(const char* name)
    {
        const auto v = value(name, false);
        if (!v)
            return std::nullopt;
        bool ok = false;
        const double d = v->toDouble(&ok);
        if (!ok || !std::isfinite(d)) {
            problem(name, QStringLiteral("\"%1\" is not a number").arg(v->toString()));
            return std::nullopt;
        }
        return d;
    }

    void problem(const char* name, const QString& message)
    {
        m_problems.append({kSetupTable, m_version, QString::fromLatin1(name), message});
    }

    const store::Row& m_row;
    QString m_version;
    ConfigProblems& m_problems;
};

} // namespace

bool isYes(const QVariant& value)
{
    if (value.isNull())
        return false;
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool();
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::Double:
        return value.toDouble() == 1.0;
    default:
        return false;
    }
}

ExperimentSetup readSetupRow(const store::Row& row, const QString& version,
                             ConfigProblems& problems)
{
    ExperimentSetup s;
    FieldReader r(row, version, problems);
    r.text("Version", s.Version);
    r.whole("MaxTrial", s.MaxTrial);
    r.real("BaseMoney", s.BaseMoney);
    r.whole("numMarks", s.numMarks);
    r.real("InitialAmountInTank", s.InitialAmountInTank);
    r.real("GoalLinePoisition", s.GoalLinePoisition);
    r.real("InitialBackOrder", s.InitialBackOrder);
    r.real("InitialForwardDischarge", s.InitialForwardDischarge);
    r.whole("inFlowTPAfter", s.inFlowTPAfter);
    r.whole("outFlowTPAfter", s.outFlowTPAfter);
    r.real("simTimeForTP", s.simTimeForTP);
    r.whole("AfterEveryNTrials", s.AfterEveryNTrials);
    r.whole("ScenarioUsed", s.ScenarioUsed);
    r.real("CostUnderFlowPerAmount", s.CostUnderFlowPerAmount);
    r.real("CostOverFlowPerAmount", s.CostOverFlowPerAmount);
    r.real("BonusAmount", s.BonusAmount);
    r.text("YUnits", s.YUnits, true);
    r.yesNo("graphicalMode", s.graphicalMode);
    r.whole("userDelay", s.userDelay);
    r.whole("envDelay", s.envDelay);
    r.real("RHEIGHT", s.RHEIGHT);
    r.real("RWIDTH", s.RWIDTH);
    r.real("UpperBoundFromGoal", s.UpperBoundFromGoal);
    r.real("LowerBoundFromGoal", s.LowerBoundFromGoal);
    r.whole("ExperimentTimeForInstructions", s.ExperimentTimeForInstructions);
    r.whole("MaxNumberOfAScenarioType", s.MaxNumberOfAScenarioType);
    r.yesNo("IsTimeDriven", s.IsTimeDriven);
    r.yesNo("IsBonusOnTimeGap", s.IsBonusOnTimeGap);
    r.yesNo("ShowBackOrder", s.ShowBackOrder);
    r.yesNo("ShowDischargeOrder", s.ShowDischargeOrder);
    r.yesNo("ShowTimePeriods", s.ShowTimePeriods);
    r.real("deltaTmeBetweenEnvUsr", s.deltaTmeBetweenEnvUsr);
    r.real("TimeBetweenEnvTries", s.TimeBetweenEnvTries);
    r.whole("UsrMv", s.UsrMv);
    r.whole("EnvMv", s.EnvMv);
    r.optionalText("Language", s.Language);
    r.optionalText("CurrencySymbol", s.CurrencySymbol);
    r.optionalText("CurrencyWord", s.CurrencyWord);
    r.optionalText("CurrencyCents", s.CurrencyCents);
    r.optionalWhole("CurrencyDecimals", s.CurrencyDecimals);
    return s;
}

} // namespace aquilevel::config

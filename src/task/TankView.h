#pragma once

#include <QString>

namespace aquilevel::task {

// What the tank model shows on the trial screen. The model holds no widgets: the trial
// screen implements this, and tests record the calls to check the order of effects.
class TankView {
public:
    // The four flow tags beside the pipes (lblUsrInCon, lblUsrOutCon, lblEnvInCon,
    // lblEnvOutCon): a flow in play is shown on red (inflow) or green (outflow).
    enum class FlowTag { UserInflow, UserOutflow, EnvInflow, EnvOutflow };
    // The stage timers that carry a period from one step to the next.
    enum class StageTimer { EnvDelay, EnvMv, UserDelay, UserMv };

    virtual ~TankView() = default;

    // Shows or hides a water stream (PipeRegion numbers).
    virtual void PipeWater(qint16 region, bool visible) = 0;
    // Redraws the tank for a held amount.
    virtual void FillTank(qint16 num, double amount) = 0;

    // A flow tag shows its quantity ("00.000") on red or green.
    virtual void tagFlow(FlowTag tag, double quantity) = 0;
    // A flow tag goes back to an empty caption on black.
    virtual void blankFlowTag(FlowTag tag) = 0;

    // The two-cell pipes of the discrete display: captions, then backgrounds.
    virtual void SetUserInputCell(qint16 index, const QString& text) = 0;
    virtual void SetEnvInputCell(qint16 index, const QString& text) = 0;
    virtual void SetUserOutputCell(qint16 index, const QString& text) = 0;
    virtual void SetEnvOutputCell(qint16 index, const QString& text) = 0;
    // pipe: 0 user inflow, 1 environment inflow, 2 user outflow, 3 environment outflow.
    virtual void BlankCell(qint16 pipe, qint16 index) = 0;
    // side: 0 user, 1 environment.
    virtual void LightInflowCell(qint16 side, qint16 index) = 0;
    virtual void LightOutflowCell(qint16 side, qint16 index) = 0;

    // The status line (kept hidden on screen, but written all the same).
    virtual void setStatus(const QString& text) = 0;
    // Sets a stage timer's interval and starts it.
    virtual void startStageTimer(StageTimer timer, qint32 intervalMs) = 0;
    virtual void setSubmitEnabled(bool enabled) = 0;
    // The money after a cost step, each "00.000".
    virtual void showMoney(double currentBonus, double totBonus, double currentCost,
                           double totCost) = 0;
};

// Shows nothing: the model runs without a window (finishing an interrupted period at
// login, the benchmarks, tests).
class NullView final : public TankView {
public:
    void PipeWater(qint16, bool) override {}
    void FillTank(qint16, double) override {}
    void tagFlow(FlowTag, double) override {}
    void blankFlowTag(FlowTag) override {}
    void SetUserInputCell(qint16, const QString&) override {}
    void SetEnvInputCell(qint16, const QString&) override {}
    void SetUserOutputCell(qint16, const QString&) override {}
    void SetEnvOutputCell(qint16, const QString&) override {}
    void BlankCell(qint16, qint16) override {}
    void LightInflowCell(qint16, qint16) override {}
    void LightOutflowCell(qint16, qint16) override {}
    void setStatus(const QString&) override {}
    void startStageTimer(StageTimer, qint32) override {}
    void setSubmitEnabled(bool) override {}
    void showMoney(double, double, double, double) override {}
};

} // namespace aquilevel::task

#pragma once

#include <QString>

// The event types of the event log (datExperimentTrials.eventType), as written and as
// the analyses and the resume read them back.
namespace aquilevel::events {

inline const QString kContinueClicked = QStringLiteral("Continue Clicked");
inline const QString kSubmitClicked = QStringLiteral("Submit Clicked");
inline const QString kEnvironmentEffect = QStringLiteral("Environment Effect");
inline const QString kNoUserEffect = QStringLiteral("No User Effect");
inline const QString kUserInflow = QStringLiteral("User Inflow");
inline const QString kUserOutflow = QStringLiteral("User Outflow");
inline const QString kAfterCost = QStringLiteral("After Cost Calculation");

} // namespace aquilevel::events

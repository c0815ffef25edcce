#pragma once

#include <QString>

namespace aquilevel::store {
class Connection;
}

namespace aquilevel::config {

// The experimenter account of a new demo database; the README tells the lab to replace it.
inline const QString kDemoUser = QStringLiteral("experimenter");
inline const QString kDemoPassword = QStringLiteral("Tank-demo-2026");
// What the demo database stores: a bcrypt hash of kDemoPassword, made once, so that init
// does not spend a quarter of a second hashing a password everyone knows.
inline const QString kDemoPasswordHash =
    QStringLiteral("$2a$12$hkLCCIL1z56icexzjN4JseSqBi8wKEfQl.OsiS9AnrBMUeE7wF/KO");

// Writes the demo versions, their scale labels and scenarios, and the demo account:
// a participant-paced continuous version, a participant-paced discrete one, a
// time-driven one and one paid by the time-gap bonus rule.
void fillDemoConfiguration(store::Connection& connection);

} // namespace aquilevel::config

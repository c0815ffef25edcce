#pragma once

#include <QDateTime>
#include <QString>

namespace aquilevel::store {
class Store;
}

namespace aquilevel {

// A participant's registration row (datSubject): who, in which version and display mode,
// what they said about themselves, and when.
struct Registration {
    QString Subject;
    QString Version;
    QString Condition;
    QString Major;
    QString Gender;
    double Age = 0;
    QDateTime at;
};

// The spelling `typed` was registered with in `version`, matched without regard to
// letter case in every script; null when the name is not registered there.
QString RegisteredName(store::Store& store, const QString& version, const QString& typed);

// Appends one registration row.
void AddRegistration(store::Store& store, const Registration& row);

} // namespace aquilevel

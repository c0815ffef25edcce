#pragma once

#include <QSet>
#include <QString>
#include <QVariant>

namespace aquilevel::store {
class Connection;
}

namespace aquilevel::tools {

// The participants marked as pilots or excluded (datSubjectMark) whom a command leaves
// out of what it writes unless asked to take them in.
struct LeftOut {
    bool includePilots = false;
    bool includeExcluded = false;
    QSet<QString> keys; // participantKey of each left out
    int pilots = 0;
    int excluded = 0;

    int total() const { return pilots + excluded; }
    bool contains(const QVariant& subject, const QVariant& version) const;
    // Reads the current marks of a version (empty: all), of one participant (empty: all).
    void read(store::Connection& c, const QString& version, const QString& subject = {});
    // The line that says how many were left out and names the options that take them in;
    // empty for none.
    QString note() const;
};

} // namespace aquilevel::tools

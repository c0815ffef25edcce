#pragma once

#include <QStringList>

namespace aquilevel::store {

// Version of the layout of the experiment database, kept in the file itself.
constexpr int kSchemaVersion = 1;

// The statements that create every table of an experiment database.
QStringList schemaStatements();

} // namespace aquilevel::store

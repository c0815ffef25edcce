#pragma once

#include "tools/ToolCommand.h"

namespace aquilevel::store {
class Store;
}

namespace aquilevel::tools {

// Marks the participant `subject` of `version` (store::MarkRow::kPilot or kExcluded) or
// takes the mark back (an empty `mark`), after the caller has let an experimenter in.
// Returns what was done; throws ToolError, with nothing changed, for a participant the
// version does not have or a mark taken back that was never given.
QString markParticipant(store::Store& store, const QString& version, const QString& subject, const QString& mark,
                        const QString& reason);

// aquilevel mark: marks a participant as a pilot or excluded, or takes the mark back.
int runMark(const QStringList& arguments, const ToolContext& context);

} // namespace aquilevel::tools

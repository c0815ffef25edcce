#pragma once

namespace aquilevel {

class Session;

// Loads the setup of the session's Version after checking everything the session will
// rely on. A broken configuration is reported in one message naming the table, the
// version and the field, and the session ends through EndGame. The version's language
// is then chosen for the screens that follow (see Session::setLanguageChoice).
void LoadCheckedSetup(Session& session);

// Loads the scale labels, the top label value and the scenario of the chosen version.
void LoadSessionConfiguration(Session& session);

} // namespace aquilevel

#include "session/Session.h"

#include "session/EndGame.h"
#include "session/Prompter.h"

namespace aquilevel {

Session::Session(SessionServices services, std::unique_ptr<store::Engine> engine)
    : m_services(services),
      m_store(std::move(engine), services.prompter, services.pacer, m_random,
              [this] { EndAfterStoreFailure(*this); })
{
}

} // namespace aquilevel

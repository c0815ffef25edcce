#include "session/SessionDialog.h"

#include "session/ProcessEnd.h"

namespace aquilevel {

int SessionDialog::execModal()
{
    m_inModalLoop = true;
    const int result = exec();
    m_inModalLoop = false;
    if (m_sessionOver)
        std::rethrow_exception(std::exchange(m_sessionOver, nullptr));
    return result;
}

void SessionDialog::guarded(const std::function<void()>& handler, int resultWhenOver)
{
    if (!m_inModalLoop) {
        handler();
        return;
    }
    try {
        handler();
    } catch (const SessionOver&) {
        m_sessionOver = std::current_exception();
        done(resultWhenOver);
    }
}

} // namespace aquilevel

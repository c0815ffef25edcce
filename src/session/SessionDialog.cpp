#include "session/SessionDialog.h"

#include "session/ProcessEnd.h"

#include <QPushButton>

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

QPushButton* SessionDialog::addPlainButton(const QString& name, const QString& caption)
{
    auto* button = new QPushButton(caption, this);
    button->setObjectName(name);
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

} // namespace aquilevel

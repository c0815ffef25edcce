#include "session/SessionDialog.h"

#include <QScreen>

#include "session/ProcessEnd.h"
#include "session/ScreenFit.h"

#include <QPushButton>

namespace aquilevel {

QRect SessionDialog::roomOnScreen() const
{
    const QScreen* where = screen();
    return where ? where->availableGeometry().marginsRemoved(QMargins(8, 8, 8, 8)) : QRect();
}

int SessionDialog::execModal()
{
    // From a 1024 x 768 lab monitor to a large one, at any scaling: never larger than the
    // screen, and on it; as readable on a large screen as on a 1920 x 1080 one.
    fitToScreen(this);
    if (const QRect room = roomOnScreen(); room.isValid()) {
        resize(size().boundedTo(room.size()).expandedTo(minimumSizeHint().boundedTo(room.size())));
        move(room.center() - QPoint(width() / 2, height() / 2));
    }
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

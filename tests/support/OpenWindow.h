#pragma once

#include <QApplication>
#include <QWidget>

namespace aquilevel::test {

// The shown window of type W while a modal loop holds it open, or nullptr.
template <typename W>
W* openWindow()
{
    if (auto* window = qobject_cast<W*>(QApplication::activeModalWidget()))
        return window;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* window = qobject_cast<W*>(w); window && window->isVisible())
            return window;
    }
    return nullptr;
}

} // namespace aquilevel::test

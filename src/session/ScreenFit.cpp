#include "session/ScreenFit.h"

#include <QGuiApplication>
#include <QLayout>
#include <QScreen>
#include <QWidget>

#include <algorithm>

namespace aquilevel {

namespace {

const char* const kFittedProperty = "aquilevelScreenScale";

QFont scaledFont(QFont font, double factor)
{
    if (font.pointSizeF() > 0)
        font.setPointSizeF(font.pointSizeF() * factor);
    else if (font.pixelSize() > 0)
        font.setPixelSize(qRound(font.pixelSize() * factor));
    return font;
}

int scaled(int length, double factor)
{
    return qRound(length * factor);
}

} // namespace

double screenScale(const QSize& screenSize)
{
    if (screenSize.isEmpty())
        return 1;
    return std::clamp(std::min(screenSize.width() / 1920.0, screenSize.height() / 1080.0), 1.0, 4.0);
}

void fitToScreen(QWidget* window)
{
    const QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    enlarge(window, screen ? screenScale(screen->geometry().size()) : 1);
}

void enlarge(QWidget* window, double factor)
{
    if (factor < 1.01 || window->property(kFittedProperty).isValid())
        return;
    window->setProperty(kFittedProperty, factor);
    // A control that chose its own size of text keeps it across the window's new font:
    // it is enlarged by itself. So is one whose kind has a size of its own (a table's
    // header). One that chose only, say, bold follows the window. Every new size is
    // taken from the old ones, before any of them changes.
    QList<std::pair<QWidget*, QFont>> ownSize{{window, scaledFont(window->font(), factor)}};
    for (QWidget* child : window->findChildren<QWidget*>())
        if ((child->testAttribute(Qt::WA_SetFont) && (child->font().resolveMask() & QFont::SizeResolved)) ||
            (!child->testAttribute(Qt::WA_SetFont) && child->font().pointSizeF() != child->parentWidget()->font().pointSizeF()))
            ownSize.append({child, scaledFont(child->font(), factor)});
    for (const auto& [widget, font] : std::as_const(ownSize))
        widget->setFont(font);
    for (QWidget* child : window->findChildren<QWidget*>()) {
        // A width or height a control may not exceed (a short entry box) grows too.
        const QSize most = child->maximumSize();
        const QSize least = child->minimumSize();
        if (most.width() < QWIDGETSIZE_MAX && most != least)
            child->setMaximumWidth(scaled(most.width(), factor));
        if (most.height() < QWIDGETSIZE_MAX && most != least)
            child->setMaximumHeight(scaled(most.height(), factor));
        if (least.width() <= 0 && least.height() <= 0)
            continue;
        const QSize larger(scaled(least.width(), factor), scaled(least.height(), factor));
        if (most == least)
            child->setFixedSize(larger);
        else
            child->setMinimumSize(larger);
    }
    for (QLayout* layout : window->findChildren<QLayout*>()) {
        const QMargins m = layout->contentsMargins();
        layout->setContentsMargins(scaled(m.left(), factor), scaled(m.top(), factor), scaled(m.right(), factor),
                                   scaled(m.bottom(), factor));
        if (layout->spacing() > 0)
            layout->setSpacing(scaled(layout->spacing(), factor));
    }
    window->resize(window->size() * factor);
}

} // namespace aquilevel

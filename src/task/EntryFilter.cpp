#include "task/EntryFilter.h"

#include <QKeyEvent>
#include <QLineEdit>

namespace aquilevel::task {

namespace {

const char* const kEntryProperty = "aquilevelOrderBox";

bool isExitKey(const QKeyEvent* key)
{
    return key->text() == QString(QChar(24)) ||
           (key->key() == Qt::Key_X && key->modifiers().testFlag(Qt::ControlModifier));
}

} // namespace

EntryFilter::EntryFilter(std::function<void()> onExit, QObject* parent)
    : QObject(parent), m_onExit(std::move(onExit))
{
}

void EntryFilter::watchEntry(QObject* box)
{
    box->setProperty(kEntryProperty, true);
    if (auto* edit = qobject_cast<QLineEdit*>(box)) {
        // Text reaches the box only through typed keys.
        edit->setContextMenuPolicy(Qt::NoContextMenu);
        edit->setAcceptDrops(false);
    }
    box->installEventFilter(this);
}

void EntryFilter::watchExitKeyOnly(QObject* control)
{
    control->installEventFilter(this);
}

bool EntryFilter::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress)
        return false;
    auto* key = static_cast<QKeyEvent*>(event);
    if (isExitKey(key)) {
        m_onExit();
        return true;
    }
    auto* box = qobject_cast<QLineEdit*>(watched);
    if (!box || !watched->property(kEntryProperty).toBool())
        return false;
    if (key->matches(QKeySequence::SelectAll)) {
        box->selectAll();
        return true;
    }
    // Other shortcuts, such as paste (Ctrl+V), would bring in any text.
    if (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return true;
    const QString text = key->text();
    if (text.isEmpty() || !text.at(0).isPrint())
        return false; // backspace, arrows, Delete, Tab, Enter: as usual
    const QChar c = text.at(0);
    if (c == QLatin1Char('0') && box->text().isEmpty())
        return true;
    // The comma is the decimal point too, whatever the station's locale: "2,5" typed by
    // a participant used to the comma means 2.5, never 25.
    if ((c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('.') || c == QLatin1Char(',')) {
        if (box->text() == QStringLiteral("0"))
            box->clear();
        return false;
    }
    return true;
}

} // namespace aquilevel::task

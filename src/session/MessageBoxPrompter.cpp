#include "session/MessageBoxPrompter.h"

#include "session/ScreenFit.h"

#include <QApplication>
#include <QClipboard>
#include <QShortcut>
#include <QMessageBox>

namespace aquilevel {

namespace {

QMessageBox::Icon boxIcon(Prompter::Icon icon)
{
    switch (icon) {
    case Prompter::Icon::Question:
        return QMessageBox::Question;
    case Prompter::Icon::Exclamation:
        return QMessageBox::Warning;
    case Prompter::Icon::Information:
        return QMessageBox::Information;
    case Prompter::Icon::Critical:
        return QMessageBox::Critical;
    case Prompter::Icon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

} // namespace

Prompter::Answer MessageBoxPrompter::ask(const Prompt& prompt)
{
    QMessageBox box(boxIcon(prompt.icon), prompt.title.isEmpty() ? kProgramTitle : prompt.title,
                    prompt.text, QMessageBox::NoButton, QApplication::activeWindow());
    fitToScreen(&box);
    // Ctrl+C copies the message, on every system, for the experimenter to pass it on.
    auto* copy = new QShortcut(QKeySequence::Copy, &box);
    QObject::connect(copy, &QShortcut::activated, &box,
                     [&box] { QApplication::clipboard()->setText(box.windowTitle() + QLatin1Char('\n') + box.text()); });
    if (prompt.buttons == Buttons::YesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        return box.exec() == QMessageBox::No ? Answer::No : Answer::Yes;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return Answer::Ok;
}

} // namespace aquilevel

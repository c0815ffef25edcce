#pragma once

#include <QWidget>

namespace aquilevel {

// The window shown while the program starts; it stays behind the others until the end.
class Splash final : public QWidget {
    Q_OBJECT
public:
    explicit Splash(QWidget* parent = nullptr);

    // Shows the window at once and keeps it up for `milliseconds` while window events
    // are processed.
    void showFor(int milliseconds);

    // The picture in the frame: a small tank with its goal line.
    static QPixmap picture();
};

} // namespace aquilevel

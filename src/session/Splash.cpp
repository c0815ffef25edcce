#include "session/Splash.h"

#include "session/ScreenFit.h"

#include <QEventLoop>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

namespace aquilevel {

Splash::Splash(QWidget* parent) : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint)
{
    setObjectName(QStringLiteral("frmSplash"));
    auto* frame = new QFrame(this);
    frame->setObjectName(QStringLiteral("fraSplash"));
    frame->setFrameShape(QFrame::Box);
    frame->setLineWidth(2);

    auto* image = new QLabel(frame);
    image->setObjectName(QStringLiteral("imgLogo"));
    image->setPixmap(picture());

    auto* product = new QLabel(QStringLiteral("Aquilevel*"), frame);
    product->setObjectName(QStringLiteral("lblProductName"));
    QFont big = product->font();
    big.setPointSize(24);
    big.setBold(true);
    product->setFont(big);
    auto* version = new QLabel(tr("Version %1").arg(QStringLiteral(AQUILEVEL_VERSION)), frame);
    version->setObjectName(QStringLiteral("lblVersion"));
    auto* platform = new QLabel(QStringLiteral("Windows XP/Vista"), frame);
    platform->setObjectName(QStringLiteral("lblPlatform"));

    auto* texts = new QVBoxLayout;
    texts->addStretch();
    texts->addWidget(product);
    texts->addWidget(version);
    texts->addWidget(platform);
    texts->addStretch();
    auto* inFrame = new QHBoxLayout(frame);
    inFrame->setContentsMargins(18, 18, 24, 18);
    inFrame->setSpacing(18);
    inFrame->addWidget(image);
    inFrame->addLayout(texts);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(8, 8, 8, 8);
    outer->addWidget(frame);
}

QPixmap Splash::picture()
{
    QPixmap pixmap(96, 120);
    pixmap.fill(Qt::white);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QRect tank(18, 14, 60, 92);
    p.fillRect(QRect(tank.left(), tank.top() + 40, tank.width(), tank.height() - 40),
               QColor(0, 0, 255));
    p.setPen(QPen(Qt::black, 3));
    p.drawRect(tank);
    p.setPen(QPen(QColor(255, 0, 0), 2));
    p.drawLine(tank.left() - 8, tank.top() + 30, tank.right() + 8, tank.top() + 30);
    p.setPen(QPen(Qt::black, 2));
    p.drawLine(4, 8, tank.left() + 12, 8);       // inflow pipe
    p.drawLine(tank.right() - 12, 112, 92, 112); // outflow pipe
    return pixmap;
}

void Splash::showFor(int milliseconds)
{
    fitToScreen(this);
    adjustSize();
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    show();
    repaint();
    if (milliseconds <= 0)
        return;
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace aquilevel

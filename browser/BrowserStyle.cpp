#include "browser/BrowserStyle.h"

#include <QLabel>

#include "app/Essentials.h"
#include "app/mainvc.h"
#include "browser/Listing.h"
#include "controls/Spinner.h"
#include "platform/runtime/ControllerRegistry.h"
#include "platform/runtime/Timer.h"

#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QPixmap>
#include <QPointer>
#include <QWidget>

namespace browserstyle {

QColor background() { return QColor(0x1e, 0x1e, 0x1e); }
QColor titleBar() { return QColor(0x2a, 0x2a, 0x2a); }
QColor text() { return QColor(0xe6, 0xe6, 0xe6); }
QColor secondaryText() { return QColor(0x9a, 0x9a, 0x9a); }
// The system's selection blue for grid items and the list's own row colour.
QColor gridSelection() { return QColor(0, 99, 225); }
QColor listSelection() { return makeOpaqueColor(37 / 255.0, 105 / 255.0, 217 / 255.0); }

void drawPreviewIcon(QPainter &painter, const QRectF &rect, const QColor &color)
{
    const qreal side = std::min(rect.width(), rect.height());
    if (side < 4)
        return;
    const QRectF frame(rect.center().x() - side / 2, rect.center().y() - side * 0.38, side, side * 0.76);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    QPen pen(color, std::max<qreal>(1.0, side / 24));
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(frame.adjusted(pen.widthF(), pen.widthF(), -pen.widthF(), -pen.widthF()), side / 12,
                            side / 12);
    // Sun and two hills.
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    const qreal r = side / 11;
    painter.drawEllipse(QPointF(frame.left() + frame.width() * 0.72, frame.top() + frame.height() * 0.3), r, r);
    QPainterPath hills;
    const qreal base = frame.bottom() - pen.widthF() * 2;
    hills.moveTo(frame.left() + side * 0.1, base);
    hills.lineTo(frame.left() + side * 0.38, frame.top() + frame.height() * 0.42);
    hills.lineTo(frame.left() + side * 0.58, base - frame.height() * 0.22);
    hills.lineTo(frame.left() + side * 0.7, frame.top() + frame.height() * 0.55);
    hills.lineTo(frame.right() - side * 0.1, base);
    hills.closeSubpath();
    painter.drawPath(hills);
    painter.restore();
}

namespace {

QPixmap iconPixmap(const QString &name, const QColor &color)
{
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    if (name == QLatin1String("grid")) {
        for (int row = 0; row < 3; ++row)
            for (int col = 0; col < 3; ++col)
                p.drawRoundedRect(QRectF(5 + col * 8, 5 + row * 8, 6, 6), 1, 1);
    } else if (name == QLatin1String("list")) {
        for (int row = 0; row < 4; ++row) {
            p.drawRoundedRect(QRectF(5, 6 + row * 6, 4, 3.5), 1, 1);
            p.drawRoundedRect(QRectF(11, 6 + row * 6, 16, 3.5), 1, 1);
        }
    } else if (name == QLatin1String("viewer")) {
        drawPreviewIcon(p, QRectF(3, 3, 26, 26), color);
    } else if (name == QLatin1String("sort")) {
        for (int row = 0; row < 4; ++row)
            p.drawRoundedRect(QRectF(6, 7 + row * 5.5, 20 - row * 4.5, 3), 1, 1);
    } else if (name == QLatin1String("zoomin") || name == QLatin1String("zoomout")) {
        const bool in = name == QLatin1String("zoomin");
        const qreal side = in ? 28 : 18;
        drawPreviewIcon(p, QRectF(16 - side / 2, 16 - side / 2, side, side), color);
    }
    return pixmap;
}

} // namespace

QIcon icon(const QString &name)
{
    QIcon icon;
    icon.addPixmap(iconPixmap(name, QColor(0xb4, 0xb4, 0xb4)), QIcon::Normal, QIcon::Off);
    icon.addPixmap(iconPixmap(name, accentOrange()), QIcon::Normal, QIcon::On);
    icon.addPixmap(iconPixmap(name, QColor(0x5a, 0x5a, 0x5a)), QIcon::Disabled, QIcon::Off);
    return icon;
}

void applyDarkPalette(QWidget *widget)
{
    QPalette pal = widget->palette();
    pal.setColor(QPalette::Window, background());
    pal.setColor(QPalette::Base, background());
    pal.setColor(QPalette::AlternateBase, QColor(0x24, 0x24, 0x24));
    pal.setColor(QPalette::WindowText, text());
    pal.setColor(QPalette::Text, text());
    pal.setColor(QPalette::ButtonText, text());
    pal.setColor(QPalette::Button, titleBar());
    pal.setColor(QPalette::PlaceholderText, secondaryText());
    pal.setColor(QPalette::Highlight, listSelection());
    pal.setColor(QPalette::HighlightedText, Qt::white);
    pal.setColor(QPalette::ToolTipBase, QColor(0x33, 0x33, 0x33));
    pal.setColor(QPalette::ToolTipText, text());
    widget->setPalette(pal);
    widget->setAutoFillBackground(true);
}

QLabel *noFilesNotice(QWidget *parent)
{
    auto *label = new QLabel(QStringLiteral("No media files found"), parent);
    label->setObjectName(QStringLiteral("box_nofilefound"));
    label->setAlignment(Qt::AlignCenter);
    label->setStyleSheet(QStringLiteral("color: #8a8a8a; font-size: 15px; background: transparent;"));
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    label->hide();
    return label;
}

namespace {

QList<std::pair<QPointer<QLabel>, QPointer<Spinner>>> &listingViews()
{
    static QList<std::pair<QPointer<QLabel>, QPointer<Spinner>>> views;
    return views;
}

} // namespace

Spinner *listingSpinner(QLabel *notice)
{
    auto *spinner = new Spinner(notice->parentWidget());
    spinner->setObjectName(QStringLiteral("listingSpinner"));
    spinner->setFixedSize(48, 48);
    spinner->setStarSize(QSizeF(4.0, 10.0));
    spinner->setDistance(12.0);
    spinner->setBackground(QColor(Qt::transparent));
    spinner->setForeground(secondaryText());
    spinner->setAttribute(Qt::WA_TransparentForMouseEvents);
    spinner->hide();
    listingViews().append({notice, spinner});
    return spinner;
}

void showListingState()
{
    // A listing on its way, or a change of the folder waiting for the hub's
    // quiet moment before it reloads: either way the listing is not in yet.
    const auto *hub = qobject_cast<const mainvc *>(lg::ControllerRegistry::existing(QStringLiteral("mainvc")));
    const bool pending = isListingPending() || (hub && hub->timerReload->isActive());
    for (const auto &[notice, spinner] : std::as_const(listingViews())) {
        if (!notice || !spinner)
            continue;
        spinner->setAnimate(pending);
        notice->setVisible(!pending && itemList.isEmpty());
    }
}

} // namespace browserstyle

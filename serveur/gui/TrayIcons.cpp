#include "serveur/gui/TrayIcons.h"

#include <QPainter>
#include <QPixmap>

#include "serveur/app/CommandLine.h"
#include "serveur/app/MenuCommands.h"

namespace vorlix::gui {

std::pair<int, int> ServerIconKind(unsigned resource)
{
    constexpr unsigned kFirst = app::kIconClients;
    constexpr unsigned kCameras = app::kMaxCamera + 1;
    if (resource < kFirst || resource >= kFirst + 3 * kCameras) {
        return {-1, -1};
    }
    const unsigned offset = resource - kFirst;
    return {static_cast<int>(offset / kCameras), static_cast<int>(offset % kCameras)};
}

QIcon DrawServerIcon(unsigned resource)
{
    const auto [kind, camera] = ServerIconKind(resource);
    if (kind < 0) {
        return {};
    }
    // Green: viewers watch; grey: off; blue: watching alone.
    static const QColor kColours[] = {QColor(0, 160, 60), QColor(130, 130, 130), QColor(30, 90, 200)};
    QIcon icon;
    for (const int side : {16, 32, 64}) {
        QPixmap pixmap(side, side);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        const qreal u = side / 16.0;
        p.setPen(Qt::NoPen);
        p.setBrush(kColours[kind]);
        p.drawRoundedRect(QRectF(1 * u, 4 * u, 11 * u, 9 * u), 1.5 * u, 1.5 * u);  // body
        p.drawPolygon(QPolygonF({QPointF(12 * u, 6 * u), QPointF(15 * u, 4 * u), QPointF(15 * u, 13 * u),
                                 QPointF(12 * u, 11 * u)}));  // lens hood
        p.setPen(Qt::white);
        QFont font = p.font();
        font.setBold(true);
        font.setPixelSize(static_cast<int>(8 * u));
        p.setFont(font);
        p.drawText(QRectF(1 * u, 4 * u, 11 * u, 9 * u), Qt::AlignCenter, QString::number(camera));
        if (kind == 1) {  // off: a slash across
            p.setPen(QPen(QColor(200, 30, 30), 1.5 * u));
            p.drawLine(QPointF(1 * u, 14 * u), QPointF(15 * u, 2 * u));
        }
        p.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

std::string ServerIconText(unsigned resource)
{
    const auto [kind, camera] = ServerIconKind(resource);
    if (kind < 0) {
        return {};
    }
    return camera == 0 ? "vorlix" : "vorlix " + std::to_string(camera);
}

std::unique_ptr<QMenu> LoadTrayMenu(unsigned id, const app::TranslateFn& translate)
{
    if (id != app::kTrayIconId) {
        return nullptr;
    }
    const auto tr = [&translate](const char* text) {
        return QString::fromStdString(translate ? translate(text) : std::string(text));
    };
    auto menu = std::make_unique<QMenu>();
    menu->addAction(tr(app::kTrayDisplayText))->setData(app::kCmdTrayDisplay);
    menu->addAction(tr(app::kTrayExitText))->setData(app::kCmdTrayExit);
    return menu;
}

}  // namespace vorlix::gui

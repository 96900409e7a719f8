#include "serveur/gui/PictureArea.h"

#include <QMouseEvent>
#include <QPainter>
#include <utility>

namespace vorlix::gui {

PictureArea::PictureArea(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setObjectName("picture");
}

void PictureArea::SetPicture(std::shared_ptr<const app::DisplayPicture> picture)
{
    if (!picture || picture->width <= 0 || picture->height <= 0 ||
        picture->rgb.size() <
            static_cast<std::size_t>(picture->width) * static_cast<std::size_t>(picture->height) * 3) {
        return;
    }
    picture_ = std::move(picture);
    image_ = QImage(picture_->rgb.data(), picture_->width, picture_->height,
                    static_cast<qsizetype>(picture_->width) * 3, QImage::Format_RGB888);
    ++shown_;
    update();
}

void PictureArea::SetStretch(bool stretch)
{
    stretch_ = stretch;
    update();
}

void PictureArea::paintEvent(QPaintEvent* /*event*/)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
    if (image_.isNull()) {
        return;
    }
    if (stretch_) {
        painter.drawImage(rect(), image_);
    } else {
        painter.drawImage(QPoint(0, 0), image_);
    }
}

void PictureArea::mousePressEvent(QMouseEvent* event)
{
    Q_EMIT MousePressed(event->button(), event->position().toPoint());
}

void PictureArea::mouseMoveEvent(QMouseEvent* event)
{
    Q_EMIT MouseMoved(event->position().toPoint());
}

void PictureArea::mouseReleaseEvent(QMouseEvent* event)
{
    Q_EMIT MouseReleased(event->button(), event->position().toPoint());
}

}  // namespace vorlix::gui

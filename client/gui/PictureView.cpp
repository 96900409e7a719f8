#include "client/gui/PictureView.h"

#include <QPainter>
#include <QResizeEvent>

namespace vorlix::client {

QImage ToImage(const DisplayBuffer& picture)
{
    if (picture.Empty()) {
        return {};
    }
    // Wraps the rows as they are (any stride is allowed here), then copies
    // them upside down into an image with the platform's row padding.
    const QImage rows(picture.Data(), picture.Width(), picture.Height(), static_cast<qsizetype>(picture.RowBytes()),
                      QImage::Format_BGR888);
    return rows.mirrored(false, true);
}

PictureView::PictureView(QWidget* parent) : QWidget(parent)
{
    setAutoFillBackground(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void PictureView::SetPicture(QImage picture)
{
    picture_ = std::move(picture);
    update();
}

void PictureView::SetStretch(bool stretch)
{
    stretch_ = stretch;
    update();
}

void PictureView::SetStatusText(const QString& text)
{
    if (text != status_) {
        status_ = text;
        update();
    }
}

void PictureView::paintEvent(QPaintEvent* /*event*/)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
    if (!picture_.isNull()) {
        if (stretch_) {
            painter.setRenderHint(QPainter::SmoothPixmapTransform);
            painter.drawImage(rect(), picture_);
        } else {
            painter.drawImage(QPoint(0, 0), picture_);
        }
    }
    if (!status_.isEmpty()) {
        const QFontMetrics metrics = painter.fontMetrics();
        const QRect line(0, height() / 2, width(), metrics.height());
        painter.fillRect(line, palette().base());
        painter.setPen(palette().text().color());
        painter.drawText(line, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, status_);
    }
}

void PictureView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    emit Resized(event->size());
}

}  // namespace vorlix::client

// The main window's client area: the last picture, scaled to the area in
// stretch mode or at its own size, and the status ticker across its middle.
#pragma once

#include <QImage>
#include <QString>
#include <QWidget>

#include "client/effects/DisplayBuffer.h"

namespace vorlix::client {

// The display buffer (bottom row first, blue-green-red, rows of W x 3 bytes)
// as a top-down image; correct for every width.
QImage ToImage(const DisplayBuffer& picture);

class PictureView : public QWidget {
    Q_OBJECT

public:
    explicit PictureView(QWidget* parent = nullptr);

    // An empty image clears the area.
    void SetPicture(QImage picture);
    void SetStretch(bool stretch);
    // Empty: no ticker.
    void SetStatusText(const QString& text);

    [[nodiscard]] const QImage& Picture() const { return picture_; }
    [[nodiscard]] bool Stretch() const { return stretch_; }
    [[nodiscard]] const QString& StatusText() const { return status_; }

signals:
    void Resized(QSize size);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QImage picture_;
    bool stretch_ = true;
    QString status_;
};

}  // namespace vorlix::client

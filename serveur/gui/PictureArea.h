// The main window's picture area: paints the newest picture the capture
// thread left, stretched to the area or in its own size at the top left
// ("ResizeVideo"), and tells its mouse buttons and moves (zone drawing).
#pragma once

#include <QImage>
#include <QWidget>
#include <memory>

#include "serveur/app/WindowDisplay.h"

namespace vorlix::gui {

class PictureArea : public QWidget {
    Q_OBJECT
public:
    explicit PictureArea(QWidget* parent = nullptr);

    void SetPicture(std::shared_ptr<const app::DisplayPicture> picture);
    void SetStretch(bool stretch);
    bool Stretch() const { return stretch_; }
    // The picture shown (null before the first).
    const app::DisplayPicture* Picture() const { return picture_.get(); }
    int PicturesShown() const { return shown_; }

Q_SIGNALS:
    // A mouse button went down or up, or the mouse moved with a button held,
    // at `at` in the area's pixels.
    void MousePressed(Qt::MouseButton button, QPoint at);
    void MouseMoved(QPoint at);
    void MouseReleased(Qt::MouseButton button, QPoint at);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    std::shared_ptr<const app::DisplayPicture> picture_;
    QImage image_;  // over picture_'s bytes
    bool stretch_ = false;
    int shown_ = 0;
};

}  // namespace vorlix::gui

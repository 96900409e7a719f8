#include "serveur/gui/ActivityBar.h"

#include <QPainter>
#include <algorithm>

namespace vorlix::gui {

ActivityBar::ActivityBar(QWidget* parent) : QWidget(parent)
{
    setObjectName("activity");
    state_.high = 5000;
}

void ActivityBar::SetState(const app::ActivityState& state)
{
    state_ = state;
    update();
}

QColor ActivityBar::Colour() const
{
    // 0xBBGGRR, as the camera object gives it.
    const std::uint32_t c = state_.colour;
    return {static_cast<int>(c & 0xFFU), static_cast<int>((c >> 8) & 0xFFU), static_cast<int>((c >> 16) & 0xFFU)};
}

void ActivityBar::paintEvent(QPaintEvent* /*event*/)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().base());
    const long long span = std::max(1, state_.high - state_.low);
    const long long pos = std::clamp(state_.position, state_.low, state_.high) - state_.low;
    const int filled = static_cast<int>(pos * width() / span);
    painter.fillRect(0, 0, filled, height(), Colour());
}

}  // namespace vorlix::gui

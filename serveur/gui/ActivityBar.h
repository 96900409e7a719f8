// The activity bar under the picture: how much the zones changed, green while
// watching, blue on a detection, grey with detection off.
#pragma once

#include <QWidget>
#include <cstdint>

#include "serveur/app/WindowDisplay.h"

namespace vorlix::gui {

class ActivityBar : public QWidget {
    Q_OBJECT
public:
    explicit ActivityBar(QWidget* parent = nullptr);

    void SetState(const app::ActivityState& state);
    const app::ActivityState& State() const { return state_; }
    // The bar's colour as painted.
    QColor Colour() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    app::ActivityState state_;
};

}  // namespace vorlix::gui

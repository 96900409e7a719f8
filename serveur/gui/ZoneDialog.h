// Dialog 131, "Zones selection": open while zones are drawn on the picture
// with the mouse. "selections clear" empties the table, "end" (or closing
// it) finishes the selection.
#pragma once

#include <QDialog>

#include "serveur/app/ServerApp.h"

class QPushButton;

namespace vorlix::gui {

class ZoneDialog : public QDialog {
    Q_OBJECT
public:
    ZoneDialog(const app::TranslateFn& translate, QWidget* parent);

    QPushButton* EndButton() const { return end_; }
    QPushButton* ClearButton() const { return clear_; }

    // Left of the main window when there is room for it (230 pixels to its
    // left when its left edge is beyond 234), else at its right edge.
    static QPoint PlaceBeside(const QRect& mainWindow);

Q_SIGNALS:
    void ClearRequested();
    void EndRequested();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QPushButton* end_ = nullptr;
    QPushButton* clear_ = nullptr;
};

}  // namespace vorlix::gui

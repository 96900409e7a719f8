// "Historique des images enregistrées": one picture of the server's ring at
// a time, a scroll bar from the oldest to the newest, the picture's comment,
// its time and its file name. Modeless; several can be open.
#pragma once

#include <QDialog>
#include <QImage>
#include <functional>
#include <string>

#include "client/app/HistoryBrowser.h"
#include "client/app/PicturePipeline.h"
#include "client/app/ViewerSession.h"
#include "client/gui/Dialogs.h"

class QLabel;
class QLineEdit;
class QScrollBar;

namespace vorlix::client {

class HistoryPictureArea;

class HistoryWindow : public QDialog {
    Q_OBJECT

public:
    using Effects = std::function<EffectSettings()>;

    HistoryWindow(ViewerSession& session, Effects effects, const TextOf& text, QWidget* parent = nullptr);

    // Asks for the newest picture (the window is then shown).
    void OpenNewest();
    // A history picture arrived: draw it with its comment, time and name.
    void Refresh();

    [[nodiscard]] const HistoryBrowser& Browser() const { return browser_; }
    [[nodiscard]] QScrollBar* ScrollBar() const { return scroll_; }
    [[nodiscard]] QString Comment() const;
    [[nodiscard]] QString TimeText() const;
    [[nodiscard]] QString FileName() const;

private:
    void OnScrollAction(int action);
    void Scroll(HistoryBrowser::Scroll scroll, int thumb);
    void SyncScrollBar();

    ViewerSession& session_;
    Effects effects_;
    TextOf text_;
    HistoryBrowser browser_;
    PicturePipeline pipeline_;
    DisplayBuffer display_;
    HistoryPictureArea* area_;
    QScrollBar* scroll_;
    QLabel* comment_;
    QLabel* time_;
    QLineEdit* name_;
};

}  // namespace vorlix::client

// The cl_vorlix main window: menus, the 100-ms timer that drives the
// session, the picture area, and the dialogs. A thin layer: the rules live
// in client/app, the stream in client/reader, the pictures in client/effects.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QTimer>
#include <map>
#include <optional>
#include <vector>

#include "client/app/PicturePipeline.h"
#include "client/app/ViewerSession.h"
#include "client/app/ViewerText.h"
#include "client/app/WindowPlacement.h"
#include "libkestrel/lang/Language.h"

class QAction;

namespace vorlix::client {

class HistoryWindow;
class PictureView;

struct ViewerOptions {
    // After the first live picture: a PNG of the window here, the JPEG as
    // received beside it (".jpg" added), then the program ends.
    std::string snapshot;
};

class ViewerWindow : public QMainWindow, public ViewerUi {
    Q_OBJECT

public:
    ViewerWindow(std::string startDir, ViewerOptions options, QWidget* parent = nullptr);
    ~ViewerWindow() override;

    // Runs a menu command by its number.
    void Run(int command);

    // ViewerUi
    void ShowLiveFrame(std::span<const std::uint8_t> jpeg) override;
    std::optional<PasswordEntry> AskPassword() override;
    void ShowHistory() override;
    void ShowDisconnected(bool pictureWasShown) override;
    void ShowStatus(const std::string& text) override;

    [[nodiscard]] QAction* Action(int command) const;
    [[nodiscard]] PictureView* View() const { return view_; }
    [[nodiscard]] ViewerSession& Session() { return session_; }
    [[nodiscard]] const EffectSettings& Effects() const { return context_.effects; }
    [[nodiscard]] HistoryWindow* LastHistoryWindow() const;
    QString Text(const char* english) const;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void BuildMenus();
    void Tick();
    void UpdateConnectionUi(bool tried);
    void Redraw();
    bool DisplayPicture(std::span<const std::uint8_t> jpeg);
    void OpenServerChoice();
    void ToggleEffect(int command);
    void AddColor();
    void ApplyFormat(int command);
    void OpenHistory();
    void SaveContext();
    void TakeSnapshot(std::span<const std::uint8_t> jpeg);
    void OnClientResized(QSize size);

    std::string startDir_;
    ViewerOptions options_;
    kestrel::Language language_;
    ViewerSettings settings_;
    ViewerContext context_;
    ViewerSession session_;
    PicturePipeline pipeline_;
    ImageSaver saver_;
    DisplayBuffer display_;
    std::vector<std::uint8_t> lastJpeg_;
    Ticker ticker_;
    PictureView* view_;
    QTimer timer_;
    std::map<int, QAction*> actions_;
    std::vector<QPointer<HistoryWindow>> histories_;
    bool inDialog_ = false;
};

}  // namespace vorlix::client

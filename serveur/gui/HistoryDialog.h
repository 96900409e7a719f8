// Dialog 134, the history of detections: one picture of the rotating set at
// a time, chosen with the scroll bar (the newest at the right end), with its
// file time, path, comment and size; with sound recording on, the play
// button replays a detection's recording while its pictures advance.
#pragma once

#include <QDialog>
#include <QImage>
#include <QTimer>
#include <memory>
#include <string>
#include <vector>

#include "serveur/app/HistoryBrowser.h"
#include "serveur/app/HistoryPicture.h"
#include "serveur/app/ServerApp.h"
#include "serveur/audio/RecordingPlayer.h"

class QLabel;
class QPushButton;
class QScrollBar;

namespace vorlix::gui {

// Grey of the area shown for a picture that cannot be read.
inline constexpr int kMissingGrey = 172;

class HistoryDialog : public QDialog, public audio::PlaybackWindow {
    Q_OBJECT
public:
    // `player` null or `audioOn` false: no play button.
    HistoryDialog(app::ServerApp& app, app::TranslateFn translate, audio::RecordingPlayer* player, bool audioOn,
                  int noActivitySeconds, QWidget* parent);
    ~HistoryDialog() override;
    HistoryDialog(const HistoryDialog&) = delete;
    HistoryDialog& operator=(const HistoryDialog&) = delete;

    const app::HistoryBrowser& Browser() const { return browser_; }
    QScrollBar* Scroll() const { return scroll_; }
    QPushButton* PlayButton() const { return play_; }
    QString PathText() const;
    QString TimeText() const;
    QString DescriptionText() const;
    QString ReplayText() const;
    bool Replaying() const { return replayTimer_.isActive(); }
    int ReplayIntervalMs() const { return replayTimer_.interval(); }
    // Where the picture was last drawn and whether it was stretched.
    app::HistoryPlacement Placement() const;
    const QImage& Shown() const { return image_; }

    // audio::PlaybackWindow
    void ShowWarning(const std::string& text) override;
    void PlaybackEnded() override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void OnScrollAction(int action);
    void ShowPicture();
    void OnPlay();
    void StopReplay();
    void OnReplayTick();
    std::string Tr(const char* text) const;

    app::ServerApp& app_;
    app::TranslateFn tr_;
    audio::RecordingPlayer* player_;
    int noActivitySeconds_;
    std::string dir_;
    app::HistoryBrowser browser_;
    QScrollBar* scroll_ = nullptr;
    QLabel* time_ = nullptr;
    QLabel* path_ = nullptr;
    QLabel* description_ = nullptr;
    QLabel* replay_ = nullptr;
    QPushButton* play_ = nullptr;
    QImage image_;
    std::vector<std::uint8_t> pixels_;  // under image_
    QTimer replayTimer_;
};

}  // namespace vorlix::gui

// The desktop server's main window over the program frame: menus with their
// command numbers, the picture area and activity bar, the tray icon, the
// schedule timer and the events list. Every call runs on the GUI thread; the
// capture thread reaches the window only through the display and the events
// queue, which announce themselves with queued signals.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QTimer>
#include <map>
#include <memory>

#include "libkestrel/tray/CTrayIcon.h"
#include "serveur/app/EventsQueue.h"
#include "serveur/app/ServerApp.h"
#include "serveur/app/WindowDisplay.h"
#include "serveur/app/WindowPort.h"
#include "serveur/app/ZoneSelection.h"

namespace vorlix::gui {

class ActivityBar;
class EventsDialog;
class HistoryDialog;
class PictureArea;
class ZoneDialog;

inline constexpr int kActivityBarHeight = 10;

class MainWindow : public QMainWindow, public app::WindowPort, public kestrel::TrayOwner {
    Q_OBJECT
public:
    // `shell`: where the tray icon goes (the desktop's tray when null).
    MainWindow(app::ServerApp& app, app::WindowDisplay& display, app::EventsQueue& events, app::TranslateFn translate,
               std::unique_ptr<kestrel::TrayShell> shell = nullptr);
    ~MainWindow() override;
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    // Start-up steps 14 and 15: the tray icon, then the window shown when
    // "Display" is 1 or when there is no tray to bring it back from.
    void CreateTray();
    void ShowAtStart();
    // Arms the schedule timer for the frame's next check.
    void RearmSchedule();

    // A menu or tray menu command, as chosen by the user.
    void RunCommand(int id);
    // The end of the program: the frame's end, tray removed, window destroyed.
    void EndProgram();

    // app::WindowPort
    void MenuStatesChanged() override;
    void TrayChanged(const app::TrayStatus& status) override;
    void SetActivity(int position, std::uint32_t colour) override;
    void PlaceWindow(int left, int top, int right, int bottom) override;

    // kestrel::TrayOwner
    void OnTrayMessage(unsigned message, unsigned id, unsigned mouseMessage) override;
    void OnTrayCommand(int command) override;
    QWidget* TrayWidget() override { return this; }

    QAction* Action(int id) const;
    PictureArea* Picture() const { return picture_; }
    ActivityBar* Bar() const { return bar_; }
    kestrel::CTrayIcon& Tray() { return tray_; }
    EventsDialog* Events() const;
    ZoneDialog* Zones() const;
    HistoryDialog* History() const;
    // The zone selection while its dialog is open (null otherwise).
    app::ZoneSelection* Selection() const { return selection_.get(); }
    bool TrayMissing() const { return trayMissing_; }
    bool Ended() const { return ended_; }

Q_SIGNALS:
    void DisplayNotice();
    void EventsNotice();
    // The program has ended: the loop may quit.
    void ProgramEnded();

protected:
    void closeEvent(QCloseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    // Minimised or hidden, the window shows nothing: the capture thread then
    // skips the painting work.
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void BuildMenus();
    void ApplyMenuStates();
    void LayoutClientArea();
    // The picture area's size to the frame, 0 x 0 while nothing is seen.
    void TellPictureArea();
    void TakeDisplay();
    void TakeEvents();
    void OpenEvents();
    void OpenAbout();
    void OpenConfiguration();
    void OpenZones();
    void EndZones();
    void CloseCameraDialogs();
    void OpenHistory();
    // Mouse over the picture: zones are drawn only while the zone dialog is open.
    app::PicturePoint OnPicture(QPoint at) const;
    void OnMousePressed(Qt::MouseButton button, QPoint at);
    void OnMouseMoved(QPoint at);
    void OnMouseReleased(Qt::MouseButton button, QPoint at);
    void OnScheduleTimer();

    app::ServerApp& app_;
    app::WindowDisplay& display_;
    app::EventsQueue& events_;
    app::TranslateFn tr_;
    kestrel::CTrayIcon tray_;
    QWidget* client_ = nullptr;
    PictureArea* picture_ = nullptr;
    ActivityBar* bar_ = nullptr;
    std::map<int, QAction*> actions_;
    QPointer<EventsDialog> eventsDialog_;
    QPointer<ZoneDialog> zoneDialog_;
    QPointer<HistoryDialog> historyDialog_;
    std::unique_ptr<app::ZoneSelection> selection_;
    QTimer schedule_;
    QTimer trayRefresh_;
    app::TrayStatus trayStatus_;
    int lastClients_ = -1;
    bool trayMissing_ = false;
    bool ended_ = false;
};

}  // namespace vorlix::gui

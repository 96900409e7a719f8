#include "serveur/gui/MainWindow.h"

#include <QCloseEvent>
#include <QMenuBar>
#include <QResizeEvent>
#include <algorithm>
#include <chrono>

#include "libkestrel/trace/TraceLevels.h"
#include "serveur/app/MenuCommands.h"
#include "serveur/gui/ActivityBar.h"
#include "serveur/gui/EventsDialog.h"
#include "serveur/gui/PictureArea.h"
#include "serveur/gui/QtOwned.h"
#include "serveur/gui/TrayIcons.h"
#include "serveur/gui/ZoneDialog.h"

namespace vorlix::gui {

namespace {

constexpr int kInitialWidth = 320;
constexpr int kInitialHeight = 240;
constexpr int kTrayRefreshMs = 1000;
constexpr int kMinWindowSide = 100;
constexpr int kMaxWindowSide = 16384;

}  // namespace

MainWindow::MainWindow(app::ServerApp& app, app::WindowDisplay& display, app::EventsQueue& events,
                       app::TranslateFn translate, std::unique_ptr<kestrel::TrayShell> shell)
    : app_(app),
      display_(display),
      events_(events),
      tr_(translate ? std::move(translate) : [](std::string_view t) { return std::string(t); }),
      tray_(app::kTrayIconId, std::move(shell))
{
    setWindowTitle("vorlix");
    setWindowIcon(DrawServerIcon(app::kIconWatching + static_cast<unsigned>(app_.Camera())));
    client_ = QtOwned<QWidget>(this);
    setCentralWidget(client_);
    picture_ = QtOwned<PictureArea>(client_);
    bar_ = QtOwned<ActivityBar>(client_);
    bar_->setGeometry(0, 100, 200, 5);
    picture_->SetStretch(app_.ResizeVideo());
    client_->installEventFilter(this);
    connect(picture_, &PictureArea::MousePressed, this, &MainWindow::OnMousePressed);
    connect(picture_, &PictureArea::MouseMoved, this, &MainWindow::OnMouseMoved);
    connect(picture_, &PictureArea::MouseReleased, this, &MainWindow::OnMouseReleased);
    BuildMenus();

    tray_.SetNotificationWnd(this, app::kTrayMessage);
    tray_.SetMenuLoader([this](unsigned id) { return LoadTrayMenu(id, tr_); });
    tray_.SetResources(DrawServerIcon, ServerIconText);

    // The capture thread (and the other workers) only announce; the work is done here.
    connect(this, &MainWindow::DisplayNotice, this, &MainWindow::TakeDisplay, Qt::QueuedConnection);
    connect(this, &MainWindow::EventsNotice, this, &MainWindow::TakeEvents, Qt::QueuedConnection);
    display_.SetNotify([this] { Q_EMIT DisplayNotice(); });
    events_.SetNotify([this] { Q_EMIT EventsNotice(); });

    schedule_.setSingleShot(true);
    connect(&schedule_, &QTimer::timeout, this, &MainWindow::OnScheduleTimer);
    // Viewers come and go without telling the window: their count is looked at each second.
    trayRefresh_.setInterval(kTrayRefreshMs);
    connect(&trayRefresh_, &QTimer::timeout, this, [this] {
        if (!app_.Exiting()) {
            app_.UpdateTray();
        }
    });
    trayRefresh_.start();

    resize(kInitialWidth, kInitialHeight + menuBar()->sizeHint().height());
    app_.SetWindow(this);
}

MainWindow::~MainWindow()
{
    // The capture thread ends with the camera object, before the notices go.
    if (!ended_) {
        EndProgram();
    }
    display_.SetNotify({});
    events_.SetNotify({});
    app_.SetWindow(nullptr);
}

void MainWindow::BuildMenus()
{
    const auto text = [this](const char* t) { return QString::fromStdString(tr_(t)); };
    const auto add = [this, &text](QMenu* menu, int id) {
        const app::MenuCommandInfo* info = app::FindMenuCommand(id);
        QAction* action = menu->addAction(text(info->text));
        action->setData(id);
        action->setObjectName(QString::number(id));
        connect(action, &QAction::triggered, this, [this, id] { RunCommand(id); });
        actions_[id] = action;
        return action;
    };
    QMenu* device = menuBar()->addMenu(text(app::kMenuLinkDevice));
    add(device, app::kCmdOpen);
    add(device, app::kCmdClose);
    add(device, app::kCmdSaveImage);
    device->addSeparator();
    add(device, app::kCmdConfiguration);
    add(device, app::kCmdEditConfiguration);
    device->addSeparator();
    add(device, app::kCmdExit);
    QMenu* detection = menuBar()->addMenu(text(app::kMenuDetection));
    add(detection, app::kCmdStop);
    add(detection, app::kCmdStart);
    detection->addSeparator();
    add(detection, app::kCmdZones);
    add(detection, app::kCmdHistory);
    add(detection, app::kCmdEvents);
    detection->addSeparator();
    add(detection, app::kCmdReference);
    QMenu* help = menuBar()->addMenu(text(app::kMenuHelp));
    add(help, app::kCmdAbout)->setShortcuts({QKeySequence("Alt+?"), QKeySequence("Alt+/")});
    TRACE_INFO("The configuration dialog is not in this window yet: its item stays off");
    ApplyMenuStates();
}

QAction* MainWindow::Action(int id) const
{
    const auto it = actions_.find(id);
    return it != actions_.end() ? it->second : nullptr;
}

void MainWindow::MenuStatesChanged()
{
    ApplyMenuStates();
}

void MainWindow::ApplyMenuStates()
{
    for (const auto& [id, action] : actions_) {
        // One zone selection at a time: its item is off while the dialog is open.
        const bool zonesOpen = id == app::kCmdZones && zoneDialog_;
        action->setEnabled(!zonesOpen && app_.MenuEnabled(id));
    }
}

void MainWindow::TrayChanged(const app::TrayStatus& status)
{
    trayStatus_ = status;
    if (tray_.Shown()) {
        tray_.SetIcon(DrawServerIcon(static_cast<unsigned>(status.icon)), status.text.c_str());
    }
}

void MainWindow::CreateTray()
{
    tray_.SetIcon(app::kIconOff + static_cast<unsigned>(app_.Camera()));
    if (!tray_.Shown()) {
        trayMissing_ = true;
        TRACE_WARN("No notification area on this desktop: the window stays shown, and closing it minimises it");
        return;
    }
    if (!trayStatus_.text.empty()) {
        TrayChanged(trayStatus_);
    }
}

void MainWindow::ShowAtStart()
{
    if (app_.DisplayWanted() || trayMissing_) {
        show();
    }
}

void MainWindow::RearmSchedule()
{
    const auto due = app_.ScheduleDue();
    if (!due || app_.Exiting()) {
        schedule_.stop();
        return;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*due - std::chrono::steady_clock::now());
    schedule_.start(static_cast<int>(std::clamp<long long>(left.count(), 0, 24LL * 3600 * 1000)));
}

void MainWindow::OnScheduleTimer()
{
    app_.OnScheduleTimer();
    RearmSchedule();
}

void MainWindow::RunCommand(int id)
{
    if (ended_) {
        return;
    }
    if (id == app::kCmdExit || id == app::kCmdTrayExit) {
        CloseCameraDialogs();
    }
    switch (app_.RunCommand(id)) {
        case app::CommandEffect::kOpenEvents:
            OpenEvents();
            break;
        case app::CommandEffect::kOpenAbout:
            OpenAbout();
            break;
        case app::CommandEffect::kOpenConfiguration:
            OpenConfiguration();
            break;
        case app::CommandEffect::kOpenZones:
            OpenZones();
            break;
        case app::CommandEffect::kOpenHistory:
            OpenHistory();
            break;
        case app::CommandEffect::kDone:
            if (id == app::kCmdExit || id == app::kCmdTrayExit) {
                EndProgram();
                return;
            }
            if (id == app::kCmdTrayDisplay) {
                showNormal();
                raise();
                activateWindow();
            }
            break;
        case app::CommandEffect::kUnknown:
            break;
    }
    RearmSchedule();
}

void MainWindow::EndProgram()
{
    if (ended_) {
        return;
    }
    CloseCameraDialogs();
    if (!app_.Exiting()) {
        app_.Exit();
    }
    ended_ = true;
    schedule_.stop();
    trayRefresh_.stop();
    if (eventsDialog_) {
        eventsDialog_->close();
    }
    tray_.SetIcon(0U);
    TRACE_LEVEL(kestrel::kLevelUser4, "WM_DESTROY");
    app_.WindowHidden();
    hide();
    Q_EMIT ProgramEnded();
}

void MainWindow::SetActivity(int position, std::uint32_t colour)
{
    // Through the display, so a notice of the capture thread still on its way cannot undo it.
    display_.SetActivityPosition(position);
    display_.SetActivityColour(colour);
}

void MainWindow::PlaceWindow(int left, int top, int right, int bottom)
{
    const int width = right - left;
    const int height = bottom - top;
    if (width <= 0 || height <= 0) {
        TRACE_WARN("Window rectangle (%d,%d,%d,%d) is empty: the window keeps its place", left, top, right, bottom);
        return;
    }
    move(left, top);
    resize(std::clamp(width, kMinWindowSide, kMaxWindowSide), std::clamp(height, kMinWindowSide, kMaxWindowSide));
}

void MainWindow::OnTrayMessage(unsigned message, unsigned id, unsigned mouseMessage)
{
    TRACE_LEVEL(kestrel::kLevelUser4, "WM_USER wParam=%lx lParam=%lX", static_cast<unsigned long>(id),
                static_cast<unsigned long>(mouseMessage));
    if (message != app::kTrayMessage || ended_) {
        return;
    }
    if (id == app::kTrayIconId && app_.Cam() != nullptr) {
        const int clients = app_.Cam()->CountStreamClients();
        if (clients != lastClients_) {
            lastClients_ = clients;
            app_.UpdateTray();
        }
    }
    tray_.OnTrayNotification(id, mouseMessage);
}

void MainWindow::OnTrayCommand(int command)
{
    RunCommand(command);
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    TRACE_LEVEL(kestrel::kLevelUser4, "WM_CLOSE");
    event->ignore();
    if (ended_) {
        return;
    }
    app_.WindowHidden();
    // Without a tray there would be no way back to a hidden window.
    if (trayMissing_) {
        showMinimized();
    } else {
        hide();
    }
}

void MainWindow::paintEvent(QPaintEvent* event)
{
    // The window's own paint; the picture area paints the pictures.
    TRACE_LEVEL(kestrel::kLevelUser4, "WM_PAINT");
    QMainWindow::paintEvent(event);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == client_ && event->type() == QEvent::Resize) {
        LayoutClientArea();
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::LayoutClientArea()
{
    const int width = client_->width();
    const int height = client_->height();
    TRACE_LEVEL(kestrel::kLevelUser4, "WM_COMMAND wParam=%lx lParam=%lX", 0UL,
                static_cast<unsigned long>((static_cast<unsigned>(height) << 16) | static_cast<unsigned>(width)));
    const int pictureHeight = std::max(0, height - kActivityBarHeight);
    bar_->setGeometry(0, height - kActivityBarHeight, width, kActivityBarHeight);
    picture_->setGeometry(0, 0, width, pictureHeight);
    TellPictureArea();
}

void MainWindow::TellPictureArea()
{
    if (ended_) {
        return;
    }
    const bool seen = isVisible() && !isMinimized();
    const int width = client_->width();
    const int height = client_->height();
    const int pictureHeight = std::max(0, height - kActivityBarHeight);
    app_.PictureAreaSized(seen ? width : 0, seen && height > 0 ? pictureHeight : 0);
}

void MainWindow::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange) {
        TellPictureArea();
    }
}

void MainWindow::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    TellPictureArea();
}

void MainWindow::hideEvent(QHideEvent* event)
{
    QMainWindow::hideEvent(event);
    TellPictureArea();
}

void MainWindow::TakeDisplay()
{
    app::DisplayUpdate update = display_.Take();
    if (update.picture) {
        picture_->SetPicture(std::move(update.picture));
    }
    if (update.activityChanged) {
        bar_->SetState(update.activity);
    }
}

app::PicturePoint MainWindow::OnPicture(QPoint at) const
{
    const app::PictureGeometry g = app_.Cam() != nullptr ? app_.Cam()->Geometry() : app::PictureGeometry{};
    return app::AreaToPicture(at.x(), at.y(), picture_->width(), picture_->height(), g, picture_->Stretch());
}

void MainWindow::OnMousePressed(Qt::MouseButton button, QPoint at)
{
    if (!selection_) {
        return;
    }
    if (at.x() < 0 || at.y() < 0) {
        TRACE_TRACE("mouse out of window");
        return;
    }
    if (button == Qt::LeftButton) {
        selection_->LeftDown(OnPicture(at));
    } else if (button == Qt::RightButton) {
        selection_->RightDown(OnPicture(at));
    }
}

void MainWindow::OnMouseMoved(QPoint at)
{
    if (selection_) {
        selection_->Move(OnPicture(at));
    }
}

void MainWindow::OnMouseReleased(Qt::MouseButton button, QPoint at)
{
    if (!selection_) {
        return;
    }
    if (button == Qt::LeftButton) {
        selection_->LeftUp(OnPicture(at));
    } else if (button == Qt::RightButton) {
        selection_->RightUp(OnPicture(at));
    }
}

}  // namespace vorlix::gui

// The dialogs the main window opens from its menus and tray menu (events,
// About, configuration, zones, history) and their closing before the camera
// object goes.
#include "serveur/audio/AudioConfig.h"
#include "serveur/gui/Dialogs.h"
#include "serveur/gui/EventsDialog.h"
#include "serveur/gui/HistoryDialog.h"
#include "serveur/gui/MainWindow.h"
#include "serveur/gui/PictureArea.h"
#include "serveur/gui/QtOwned.h"
#include "serveur/gui/ZoneDialog.h"
#include "serveur/gui/config/ConfigDialog.h"

namespace vorlix::gui {

EventsDialog* MainWindow::Events() const
{
    return eventsDialog_.data();
}

ZoneDialog* MainWindow::Zones() const
{
    return zoneDialog_.data();
}

HistoryDialog* MainWindow::History() const
{
    return historyDialog_.data();
}

void MainWindow::TakeEvents()
{
    if (eventsDialog_) {
        eventsDialog_->Drain();
    } else {
        (void)events_.Take();
    }
}

void MainWindow::OpenEvents()
{
    if (eventsDialog_) {
        eventsDialog_->raise();
        eventsDialog_->activateWindow();
        return;
    }
    eventsDialog_ = QtOwned<EventsDialog>(app_, events_, tr_, this);
    eventsDialog_->show();
}

void MainWindow::OpenAbout()
{
    AboutDialog about(app_.Camera(), this);
    about.exec();
}

void MainWindow::OpenConfiguration()
{
    ConfigDialog dialog(app_, tr_, this);
    dialog.exec();
}

void MainWindow::OpenZones()
{
    if (zoneDialog_) {
        zoneDialog_->raise();
        zoneDialog_->activateWindow();
        return;
    }
    if (app_.Cam() == nullptr) {
        return;
    }
    selection_ = std::make_unique<app::ZoneSelection>(*app_.Cam(), &display_);
    zoneDialog_ = QtOwned<ZoneDialog>(tr_, this);
    connect(zoneDialog_, &ZoneDialog::ClearRequested, this, [this] {
        if (selection_) {
            selection_->Clear();
        }
    });
    connect(zoneDialog_, &ZoneDialog::EndRequested, this, &MainWindow::EndZones);
    zoneDialog_->move(ZoneDialog::PlaceBeside(frameGeometry()));
    // Zones are drawn on the picture as large as the window allows.
    picture_->SetStretch(true);
    zoneDialog_->show();
    ApplyMenuStates();
}

void MainWindow::CloseCameraDialogs()
{
    // The zone selection and the history's player use the camera object,
    // which the frame's end destroys: they finish first.
    if (zoneDialog_) {
        EndZones();
    }
    if (historyDialog_) {
        historyDialog_->close();
    }
}

void MainWindow::EndZones()
{
    if (selection_) {
        selection_->End();
        selection_.reset();
    }
    picture_->SetStretch(app_.ResizeVideo());
    if (zoneDialog_) {
        zoneDialog_->hide();
        zoneDialog_->deleteLater();
        zoneDialog_.clear();
    }
    ApplyMenuStates();
}

void MainWindow::OpenHistory()
{
    if (historyDialog_) {
        historyDialog_->raise();
        historyDialog_->activateWindow();
        return;
    }
    audio::RecordingPlayer* player = nullptr;
    audio::AudioConfig audio;
    if (app::CameraPort* cam = app_.Cam()) {
        player = cam->Playback();
        audio = audio::LoadAudioConfig(app_.Paths().settingsFile);
    }
    historyDialog_ = QtOwned<HistoryDialog>(app_, tr_, player, audio.Enabled(), audio.noActivityTime, this);
    historyDialog_->setAttribute(Qt::WA_DeleteOnClose);
    historyDialog_->show();
}

}  // namespace vorlix::gui

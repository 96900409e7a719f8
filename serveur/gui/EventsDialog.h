// The "Evenements list" dialog: while it is open and not stopped it is
// attached to the camera's events window. Its lines come from the events
// queue on the window's thread; the list keeps the newest kMaxRows.
#pragma once

#include <QDialog>

#include "serveur/app/EventsQueue.h"
#include "serveur/app/ServerApp.h"

class QListWidget;
class QPushButton;

namespace vorlix::gui {

inline constexpr int kEventsStopButton = 1091;
inline constexpr int kEventsRestartButton = 1093;

class EventsDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr int kMaxRows = 5000;

    EventsDialog(app::ServerApp& app, app::EventsQueue& feed, const app::TranslateFn& translate,
                 QWidget* parent = nullptr);
    ~EventsDialog() override;
    EventsDialog(const EventsDialog&) = delete;
    EventsDialog& operator=(const EventsDialog&) = delete;

    // Moves the waiting lines into the list.
    void Drain();
    void Stop();
    void Restart();

    QListWidget* List() const { return list_; }
    QPushButton* StopButton() const { return stop_; }
    QPushButton* RestartButton() const { return restart_; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void Add(const QString& line);
    void Detach();

    app::ServerApp& app_;
    app::EventsQueue& feed_;
    app::TranslateFn tr_;
    QListWidget* list_;
    QPushButton* stop_;
    QPushButton* restart_;
};

}  // namespace vorlix::gui

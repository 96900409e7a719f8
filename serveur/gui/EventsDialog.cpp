#include "serveur/gui/EventsDialog.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "serveur/gui/QtOwned.h"

namespace vorlix::gui {

namespace {

QString Q(const std::string& s)
{
    return QString::fromStdString(s);
}

}  // namespace

EventsDialog::EventsDialog(app::ServerApp& app, app::EventsQueue& feed, const app::TranslateFn& translate,
                           QWidget* parent)
    : QDialog(parent),
      app_(app),
      feed_(feed),
      tr_(translate ? translate : [](std::string_view t) { return std::string(t); }),
      list_(QtOwned<QListWidget>(this)),
      stop_(QtOwned<QPushButton>(Q(tr_("Stop")), this)),
      restart_(QtOwned<QPushButton>(Q(tr_("Re-start")), this))
{
    setWindowTitle(Q(tr_("Evenements list")));
    setObjectName("151");
    setAttribute(Qt::WA_DeleteOnClose);
    stop_->setObjectName(QString::number(kEventsStopButton));
    restart_->setObjectName(QString::number(kEventsRestartButton));
    auto* buttons = QtOwned<QHBoxLayout>();
    buttons->addWidget(stop_);
    buttons->addWidget(restart_);
    buttons->addStretch();
    auto* layout = QtOwned<QVBoxLayout>(this);
    layout->addWidget(list_);
    layout->addLayout(buttons);
    resize(520, 300);
    connect(stop_, &QPushButton::clicked, this, &EventsDialog::Stop);
    connect(restart_, &QPushButton::clicked, this, &EventsDialog::Restart);

    // Lines of an earlier list, stopped or closed, are not this one's.
    feed_.SetAccepting(false);
    (void)feed_.Take();
    Add(Q(tr_("Started...")));
    feed_.SetAccepting(true);
    app_.AttachEvents(true);
    restart_->setEnabled(false);
}

EventsDialog::~EventsDialog()
{
    Detach();
}

void EventsDialog::Detach()
{
    feed_.SetAccepting(false);
    app_.AttachEvents(false);
}

void EventsDialog::Add(const QString& line)
{
    list_->addItem(line);
    while (list_->count() > kMaxRows) {
        delete list_->takeItem(0);  // NOLINT(cppcoreguidelines-owning-memory): takeItem gives the row back
    }
    list_->setCurrentRow(list_->count() - 1);
}

void EventsDialog::Drain()
{
    app::EventsQueue::Batch batch = feed_.Take();
    if (batch.dropped > 0) {
        Add(QString("(%1 lines lost: too many at once)").arg(batch.dropped));
    }
    for (const std::string& line : batch.lines) {
        Add(Q(line));
    }
}

void EventsDialog::Stop()
{
    // Nothing gets in once detached; what came before is shown before "Stopped".
    Detach();
    Drain();
    Add(Q(tr_("Stopped")));
    stop_->setEnabled(false);
    restart_->setEnabled(true);
}

void EventsDialog::Restart()
{
    feed_.SetAccepting(true);
    app_.AttachEvents(true);
    Add(Q(tr_("Re-started...")));
    stop_->setEnabled(true);
    restart_->setEnabled(false);
}

void EventsDialog::closeEvent(QCloseEvent* event)
{
    Detach();
    QDialog::closeEvent(event);
}

}  // namespace vorlix::gui

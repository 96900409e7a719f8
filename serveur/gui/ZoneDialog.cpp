#include "serveur/gui/ZoneDialog.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "serveur/gui/QtOwned.h"

namespace vorlix::gui {

namespace {
constexpr int kLeftRoom = 234;
constexpr int kLeftOffset = 230;
constexpr int kTextWidth = 220;
}  // namespace

ZoneDialog::ZoneDialog(const app::TranslateFn& translate, QWidget* parent) : QDialog(parent)
{
    const auto tr = [&translate](const char* text) {
        return QString::fromStdString(translate ? translate(text) : std::string(text));
    };
    setObjectName("zones");
    setWindowTitle(tr("Zones selection"));
    setModal(false);
    auto* layout = QtOwned<QVBoxLayout>(this);
    auto* how = QtOwned<QLabel>(tr("To create a detection zone, use the left button of the mouse, and to deselect, the "
                                   "right button...\nif no selection appears, then the zone of detection is the unit."),
                                this);
    how->setWordWrap(true);
    how->setMinimumWidth(kTextWidth);
    auto* only = QtOwned<QLabel>(tr("The zones creation are possible only during this dialog is opened"), this);
    only->setWordWrap(true);
    layout->addWidget(how);
    layout->addWidget(only);
    auto* buttons = QtOwned<QHBoxLayout>();
    clear_ = QtOwned<QPushButton>(tr("selections clear"), this);
    end_ = QtOwned<QPushButton>(tr("end"), this);
    end_->setDefault(true);
    buttons->addWidget(clear_);
    buttons->addWidget(end_);
    layout->addLayout(buttons);
    connect(clear_, &QPushButton::clicked, this, &ZoneDialog::ClearRequested);
    connect(end_, &QPushButton::clicked, this, &ZoneDialog::EndRequested);
}

QPoint ZoneDialog::PlaceBeside(const QRect& mainWindow)
{
    const int x = mainWindow.left() > kLeftRoom ? mainWindow.left() - kLeftOffset : mainWindow.right() + 1;
    return {x, mainWindow.top()};
}

void ZoneDialog::closeEvent(QCloseEvent* event)
{
    // Closed from its title bar: finished as with "end", so the selection
    // never stays half done.
    event->ignore();
    Q_EMIT EndRequested();
}

}  // namespace vorlix::gui

#include "libkestrel/tray/CTrayIcon.h"

#include <QApplication>
#include <QCursor>
#include <QSystemTrayIcon>
#include <QWidget>
#include <algorithm>
#include <cstring>

namespace kestrel {

namespace {

void CopyTip(TrayIconRecord& record, const char* tip)
{
    const std::size_t n = std::min(std::strlen(tip), kTrayTipSize - 1);
    std::memcpy(record.tip.data(), tip, n);
    record.tip[n] = '\0';
}

}  // namespace

// ---- QtTrayShell -------------------------------------------------------

QtTrayShell::QtTrayShell() = default;
QtTrayShell::~QtTrayShell() = default;

bool QtTrayShell::Available()
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void QtTrayShell::Apply(const TrayIconRecord& record)
{
    record_.size = record.size;
    record_.window = record.window;
    record_.id = record.id;
    record_.flags = record.flags;
    record_.callbackMessage = record.callbackMessage;
    record_.tip = record.tip;
    if ((record.flags & kTrayFlagIcon) != 0) {
        icon_->setIcon(record.icon);
    }
    icon_->setToolTip((record.flags & kTrayFlagTip) != 0 ? QString::fromUtf8(record.tip.data()) : QString());
}

bool QtTrayShell::Notify(TrayAction action, const TrayIconRecord& record)
{
    switch (action) {
        case TrayAction::kAdd: {
            if (icon_ || !Available()) {
                return false;
            }
            icon_ = std::make_unique<QSystemTrayIcon>();
            Apply(record);
            // Mouse notifications go to the owner only while the record asks for them.
            QObject::connect(icon_.get(), &QSystemTrayIcon::activated, icon_.get(),
                             [this](QSystemTrayIcon::ActivationReason reason) {
                                 unsigned mouse = 0;
                                 switch (reason) {
                                     case QSystemTrayIcon::Context:
                                         mouse = kMouseRightUp;
                                         break;
                                     case QSystemTrayIcon::DoubleClick:
                                         mouse = kMouseLeftDoubleClick;
                                         break;
                                     case QSystemTrayIcon::Trigger:
                                         mouse = kMouseLeftUp;
                                         break;
                                     default:
                                         return;
                                 }
                                 if ((record_.flags & kTrayFlagMessage) != 0 && record_.window != nullptr) {
                                     record_.window->OnTrayMessage(record_.callbackMessage, record_.id, mouse);
                                 }
                             });
            icon_->show();
            return true;
        }
        case TrayAction::kModify:
            if (!icon_) {
                return false;
            }
            Apply(record);
            return true;
        case TrayAction::kDelete:
            if (!icon_) {
                return false;
            }
            icon_->hide();
            icon_.reset();
            return true;
    }
    return false;
}

// ---- CTrayIcon ---------------------------------------------------------

CTrayIcon::CTrayIcon(unsigned id, std::unique_ptr<TrayShell> shell)
    : shell_(shell ? std::move(shell) : std::make_unique<QtTrayShell>())
{
    record_.size = kTrayRecordSize;
    record_.id = id;
}

CTrayIcon::~CTrayIcon()
{
    SetIcon(QIcon(), nullptr);
}

void CTrayIcon::SetNotificationWnd(TrayOwner* window, unsigned message)
{
    record_.window = window;
    record_.callbackMessage = message;
}

void CTrayIcon::SetResources(IconLoader icons, TextLoader texts)
{
    icons_ = std::move(icons);
    texts_ = std::move(texts);
}

int CTrayIcon::SetIcon(const QIcon& icon, const char* tip)
{
    record_.flags = 0;
    TrayAction action = TrayAction::kAdd;
    if (!icon.isNull()) {
        const bool shown = !record_.icon.isNull();
        record_.icon = icon;
        record_.flags |= kTrayFlagIcon;
        action = shown ? TrayAction::kModify : TrayAction::kAdd;
    } else {
        if (record_.icon.isNull()) {
            return 1;
        }
        action = TrayAction::kDelete;
    }
    if (tip != nullptr) {
        CopyTip(record_, tip);
    }
    if (record_.tip[0] != '\0') {
        record_.flags |= kTrayFlagTip;
    }
    if (record_.callbackMessage != 0 && record_.window != nullptr) {
        record_.flags |= kTrayFlagMessage;
    }
    const bool ok = shell_->Notify(action, record_);
    if (action == TrayAction::kDelete || !ok) {
        record_.icon = QIcon();
    }
    return ok ? 1 : 0;
}

int CTrayIcon::SetIcon(unsigned resource)
{
    if (resource == 0) {
        return SetIcon(QIcon(), nullptr);
    }
    if (texts_) {
        CopyTip(record_, texts_(resource).c_str());
    }
    return SetIcon(icons_ ? icons_(resource) : QIcon(), nullptr);
}

int CTrayIcon::SetStandardIcon(QStyle::StandardPixmap icon, const char* tip)
{
    return SetIcon(QApplication::style()->standardIcon(icon), tip);
}

int CTrayIcon::OnTrayNotification(unsigned id, unsigned mouseMessage)
{
    if (id != record_.id || (mouseMessage != kMouseRightUp && mouseMessage != kMouseLeftDoubleClick)) {
        return 0;
    }
    std::unique_ptr<QMenu> menu = menus_ ? menus_(record_.id) : nullptr;
    if (!menu || menu->actions().isEmpty()) {
        return 0;
    }
    QAction* first = menu->actions().first();
    if (mouseMessage == kMouseRightUp) {
        menu->setDefaultAction(first);
        const QPoint at = QCursor::pos();
        QWidget* owner = record_.window != nullptr ? record_.window->TrayWidget() : nullptr;
        if (owner != nullptr) {
            owner->activateWindow();
        }
        QAction* chosen = popup_ ? popup_(*menu, at) : menu->exec(at);
        if (chosen != nullptr && record_.window != nullptr) {
            record_.window->OnTrayCommand(chosen->data().toInt());
        }
    } else if (record_.window != nullptr) {
        record_.window->OnTrayCommand(first->data().toInt());
    }
    return 1;
}

}  // namespace kestrel

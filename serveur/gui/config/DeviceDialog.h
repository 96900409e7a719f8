// The capture device's dialogs of the Video page: the source dialog (device
// list, mode list) and the format dialog (mode list), both with a slider per
// property the device has, applied to the device as it moves.
#pragma once

#include <QDialog>

#include "serveur/app/TrayText.h"

class QFormLayout;
class QListWidget;

namespace vorlix::capture {
class CaptureServer;
}

namespace vorlix::gui {

inline constexpr int kSourceDialogResource = 156;

class DeviceDialog : public QDialog {
    Q_OBJECT
public:
    enum Kind { kFormat, kSource };
    DeviceDialog(capture::CaptureServer& capture, Kind kind, app::TranslateFn translate, QWidget* parent = nullptr);

    QListWidget* Devices() const { return devices_; }
    QListWidget* Modes() const { return modes_; }
    [[nodiscard]] bool DeviceChanged() const { return deviceChanged_; }

    // OK: capture restarted in the chosen mode when it changed; closes with the mode row.
    void accept() override;
    // Cancel (and Escape): closes with -1; a device chosen meanwhile stays connected.
    void reject() override;

private:
    QString Tr(const char* text) const;
    void FillModes();
    void DeviceSelected(int row);
    void AddSliders(QFormLayout* layout);

    capture::CaptureServer& capture_;
    Kind kind_;
    app::TranslateFn translate_;
    QListWidget* devices_ = nullptr;
    QListWidget* modes_ = nullptr;
    bool closing_ = false;
    bool deviceChanged_ = false;
};

}  // namespace vorlix::gui

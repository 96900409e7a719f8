#include "serveur/gui/config/DeviceDialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

#include "libkestrel/trace/TraceLevels.h"
#include "serveur/capture/CaptureServer.h"
#include "serveur/gui/QtOwned.h"

namespace vorlix::gui {

DeviceDialog::DeviceDialog(capture::CaptureServer& capture, Kind kind, app::TranslateFn translate, QWidget* parent)
    : QDialog(parent), capture_(capture), kind_(kind), translate_(std::move(translate))
{
    setObjectName(kind == kSource ? "source" : "format");
    setWindowTitle(kind == kSource ? Tr("Video source") : Tr("Video format"));
    auto* layout = QtOwned<QVBoxLayout>(this);
    auto* form = QtOwned<QFormLayout>();
    if (kind == kSource) {
        devices_ = QtOwned<QListWidget>(this);
        devices_->setObjectName("devices");
        for (const std::string& name : capture_.DeviceList()) {
            devices_->addItem(QString::fromStdString(name));
        }
        devices_->setCurrentRow(capture_.DeviceIndex());
        form->addRow(Tr("Device"), devices_);
    }
    modes_ = QtOwned<QListWidget>(this);
    modes_->setObjectName("modes");
    form->addRow(Tr("Mode"), modes_);
    FillModes();
    layout->addLayout(form);
    AddSliders(form);
    if (devices_ != nullptr) {
        connect(devices_, &QListWidget::currentRowChanged, this, &DeviceDialog::DeviceSelected);
    }

    auto* buttons = QtOwned<QDialogButtonBox>(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &DeviceDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &DeviceDialog::reject);
    layout->addWidget(buttons);
}

QString DeviceDialog::Tr(const char* text) const
{
    return QString::fromStdString(translate_ ? translate_(text) : std::string(text));
}

void DeviceDialog::FillModes()
{
    modes_->clear();
    for (const std::string& mode : capture_.ModeList()) {
        modes_->addItem(QString::fromStdString(mode));
    }
    if (capture_.ModeIndex() < modes_->count()) {
        modes_->setCurrentRow(capture_.ModeIndex());
    }
}

// A different device chosen in the list is connected at once.
void DeviceDialog::DeviceSelected(int row)
{
    if (closing_ || row < 0 || row == capture_.DeviceIndex()) {
        return;
    }
    if (capture_.SelectDevice(row)) {
        deviceChanged_ = true;
        FillModes();
    }
}

void DeviceDialog::AddSliders(QFormLayout* layout)
{
    capture::CaptureSystem* system = capture_.System();
    if (system == nullptr) {
        return;
    }
    int shown = 0;
    for (int i = 0; i < capture::kPropertyCount; ++i) {
        capture::PropertyValue value;
        if (system->GetProperty(i, value) != 0 || value.maximum <= value.minimum) {
            continue;
        }
        auto* slider = QtOwned<QSlider>(Qt::Horizontal, this);
        slider->setObjectName(QString("property_%1").arg(i));
        slider->setRange(value.minimum, value.maximum);
        slider->setValue(value.value);
        connect(slider, &QSlider::valueChanged, this, [system, i](int v) { system->SetProperty(i, v); });
        layout->addRow(Tr(capture::CaptureSystem::PropertyName(i).c_str()), slider);
        ++shown;
    }
    if (shown == 0) {
        layout->addRow(QtOwned<QLabel>(Tr("This device has no picture settings")));
    }
}

void DeviceDialog::accept()
{
    closing_ = true;
    const int row = modes_->currentRow();
    const bool valid = row >= 0 && row < modes_->count();
    const int mode = valid ? row : 0;
    if (deviceChanged_ || (valid && mode != capture_.ModeIndex())) {
        TRACE_INFO("Capture restarted in mode %d", mode);
        capture_.StartCapture(std::nullopt, mode);
    }
    done(row);
}

void DeviceDialog::reject()
{
    closing_ = true;
    done(-1);
}

}  // namespace vorlix::gui

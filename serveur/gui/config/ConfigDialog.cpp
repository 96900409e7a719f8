#include "serveur/gui/config/ConfigDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QTabWidget>
#include <QUrl>
#include <QVBoxLayout>

#include "libkestrel/trace/TraceLevels.h"
#include "serveur/app/ServerApp.h"
#include "serveur/capture/CaptureServer.h"
#include "serveur/core/SettingsSections.h"
#include "serveur/gui/QtOwned.h"
#include "serveur/gui/config/DeviceDialog.h"

namespace vorlix::gui {

using app::ConfigField;
using app::ConfigPage;
using app::FieldKind;

namespace {

constexpr int kPreviewWidth = 240;

// The "%" codes the Execute page's arguments take.
constexpr const char* kExecuteHelp =
    "Key words of the arguments: %n picture file, %f zone number (0 for all or some zones), "
    "%a %o centre of the change, %x %y %w %h enlarged zone, %W %H picture size, %c camera number, "
    "%e event number, %E event name, %% a percent sign";

bool IsBox(FieldKind kind)
{
    return kind == FieldKind::kCheck || kind == FieldKind::kDay || kind == FieldKind::kOutside;
}

}  // namespace

ConfigDialog::ConfigDialog(app::ServerApp& app, app::TranslateFn translate, QWidget* parent)
    : QDialog(parent), app_(app), translate_(std::move(translate)), opened_(app.ConfigurationForm())
{
    setObjectName("configuration");
    setWindowTitle(Tr("Vorlix configuration"));
    controls_.assign(app::ConfigFields().size(), nullptr);

    auto* layout = QtOwned<QVBoxLayout>(this);
    tabs_ = QtOwned<QTabWidget>(this);
    tabs_->setObjectName("tabs");
    // Every page's tab in sight: the dialog is as wide as the twelve labels.
    tabs_->setUsesScrollButtons(false);
    for (const app::PageInfo& page : app::ConfigPages()) {
        tabs_->addTab(BuildPage(page), Tr(page.label));
    }
    tabs_->setCurrentIndex(0);
    layout->addWidget(tabs_);

    auto* buttons = QtOwned<QDialogButtonBox>(this);
    QPushButton* save = buttons->addButton(Tr("save"), QDialogButtonBox::AcceptRole);
    QPushButton* cancel = buttons->addButton(Tr("cancel"), QDialogButtonBox::RejectRole);
    save->setObjectName("save");
    cancel->setObjectName("cancel");
    save->setDefault(true);
    connect(save, &QPushButton::clicked, this, &ConfigDialog::Save);
    connect(cancel, &QPushButton::clicked, this, [this] { done(kConfigCancelled); });
    layout->addWidget(buttons);
}

QString ConfigDialog::Tr(const char* text) const
{
    return QString::fromStdString(translate_ ? translate_(text) : std::string(text));
}

QWidget* ConfigDialog::BuildPage(const app::PageInfo& page)
{
    auto* widget = QtOwned<QWidget>(tabs_);
    widget->setObjectName(QString("page_%1").arg(page.resource));
    auto* form = QtOwned<QFormLayout>();
    widget->setLayout(form);
    const auto fields = app::ConfigFields();
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const ConfigField& f = fields[i];
        if (f.page != page.page || !app::FieldShown(f, opened_.context.gstBuild)) {
            continue;
        }
        const QString value = QString::fromStdString(opened_.values[i]);
        const QString label = *f.label != '\0' ? Tr(f.label) : QString();
        QWidget* control = nullptr;
        if (IsBox(f.kind)) {
            auto* box = QtOwned<QCheckBox>(label, widget);
            box->setChecked(value == "1");
            form->addRow(box);
            control = box;
        } else if (f.kind == FieldKind::kChoice) {
            auto* combo = QtOwned<QComboBox>(widget);
            for (const QString& choice : QString(f.choices).split('|')) {
                combo->addItem(Tr(choice.toUtf8().constData()));
            }
            combo->setCurrentIndex(std::clamp(value.toInt(), 0, combo->count() - 1));
            form->addRow(label, combo);
            control = combo;
        } else {
            auto* edit = QtOwned<QLineEdit>(value, widget);
            edit->setMaxLength(static_cast<int>(app::kMaxFieldText));
            if (f.kind == FieldKind::kPassword) {
                edit->setEchoMode(QLineEdit::Password);
                if (f.section == std::string_view(section::kMain)) {
                    edit->setPlaceholderText(Tr("Enter a password to control access client"));
                }
            }
            if (f.kind == FieldKind::kBegin || f.kind == FieldKind::kEnd) {
                edit->setPlaceholderText("hh:mm");
            }
            form->addRow(label, edit);
            control = edit;
        }
        control->setObjectName(QString("field_%1").arg(f.control));
        controls_[i] = control;
    }
    AddPageExtras(page.page, form);
    return widget;
}

void ConfigDialog::AddPageExtras(ConfigPage page, QFormLayout* layout)
{
    switch (page) {
        case ConfigPage::kVideo:
            AddVideoButtons(layout);
            break;
        case ConfigPage::kSounds:
            layout->addRow(QtOwned<QLabel>(Tr("4 to 9 : update the Vorlix.ini file")));
            layout->addRow(QtOwned<QLabel>(Tr("others case, modify directly the ini file")));
            break;
        case ConfigPage::kExecute: {
            auto* help = QtOwned<QLabel>(Tr(kExecuteHelp));
            help->setWordWrap(true);
            layout->addRow(help);
            break;
        }
        case ConfigPage::kUpdate: {
            auto* update = QtOwned<QPushButton>(Tr("Update"));
            update->setObjectName("update");
            connect(update, &QPushButton::clicked, this,
                    [] { QDesktopServices::openUrl(QUrl(QString::fromLatin1(app::kDownloadPage))); });
            layout->addRow(update);
            break;
        }
        default:
            break;
    }
}

void ConfigDialog::AddVideoButtons(QFormLayout* layout)
{
    if (opened_.context.gstBuild) {
        auto* test = QtOwned<QPushButton>(Tr("Test"));
        test->setObjectName("test");
        connect(test, &QPushButton::clicked, this, &ConfigDialog::TestAddress);
        layout->addRow(Tr("rtsp://, http://, file:// or a file"), test);
        testResult_ = QtOwned<QLabel>();
        testResult_->setObjectName("testResult");
        testResult_->setWordWrap(true);
        testResult_->setMinimumWidth(kPreviewWidth);
        layout->addRow(testResult_);
    }
    struct Button {
        const char* text;
        const char* trace;
        int id;
    };
    static constexpr Button kButtons[] = {
        {"Format", "IDC_ONGLET_VIDEO_BUTTON_FORMAT", 1037},
        {"Source", "IDC_ONGLET_VIDEO_BUTTON_SOURCE", 1038},
        {"Compression", "IDC_ONGLET_VIDEO_BUTTON_COMPRESSION", 1039},
        {"Display", "IDC_ONGLET_VIDEO_BUTTON_DISPLAY", 1040},
    };
    auto* row = QtOwned<QHBoxLayout>();
    for (const Button& b : kButtons) {
        auto* button = QtOwned<QPushButton>(Tr(b.text));
        button->setObjectName(QString("button_%1").arg(b.id));
        connect(button, &QPushButton::clicked, this, [this, b] {
            TRACE_LEVEL(kestrel::kLevelUser4, "%s", b.trace);
            if (b.id == 1037 || b.id == 1038) {
                OpenDeviceDialog(b.id == 1038);
            }
        });
        // Nothing of a compression or display setting is kept by this server.
        button->setEnabled(b.id == 1037 || b.id == 1038);
        row->addWidget(button);
    }
    layout->addRow(row);
}

void ConfigDialog::OpenDeviceDialog(bool source)
{
    app::CameraPort* camera = app_.Cam();
    capture::CaptureServer* capture = camera != nullptr ? camera->Capture() : nullptr;
    if (capture == nullptr || capture->System() == nullptr || capture->DeviceList().empty()) {
        QMessageBox::information(this, Tr("Video"), Tr("No video device is present"));
        return;
    }
    DeviceDialog dialog(*capture, source ? DeviceDialog::kSource : DeviceDialog::kFormat, translate_, this);
    dialog.exec();
}

void ConfigDialog::TestAddress()
{
    const std::size_t field = app::FieldIndex(section::kMain, "VideoURI", FieldKind::kText);
    const auto* edit = qobject_cast<QLineEdit*>(controls_[field]);
    const std::string address = app::NormaliseVideoUri(edit->text().toStdString(), opened_.context.workDir);
    if (!app_.ProbeSource()) {
        return;
    }
    testResult_->setText(Tr("Opening..."));
    testResult_->repaint();
    const app::SourceProbeResult result = app_.ProbeSource()(address);
    if (!result.ok) {
        testResult_->setPixmap({});
        testResult_->setText(QString::fromStdString(result.why));
        return;
    }
    const QImage image(result.rgb.data(), result.width, result.height, static_cast<qsizetype>(result.width) * 3,
                       QImage::Format_RGB888);
    testResult_->setPixmap(QPixmap::fromImage(image.copy()).scaledToWidth(kPreviewWidth, Qt::SmoothTransformation));
    testResult_->setToolTip(QString("%1 x %2").arg(result.width).arg(result.height));
}

app::ConfigForm ConfigDialog::Form() const
{
    app::ConfigForm form = opened_;
    const auto fields = app::ConfigFields();
    for (std::size_t i = 0; i < fields.size(); ++i) {
        QWidget* control = controls_[i];
        if (control == nullptr) {
            continue;
        }
        if (const auto* box = qobject_cast<QCheckBox*>(control)) {
            form.values[i] = box->isChecked() ? "1" : "0";
        } else if (const auto* combo = qobject_cast<QComboBox*>(control)) {
            form.values[i] = std::to_string(combo->currentIndex());
        } else if (const auto* edit = qobject_cast<QLineEdit*>(control)) {
            form.values[i] = edit->text().toStdString();
        }
    }
    return form;
}

void ConfigDialog::Save()
{
    std::optional<app::WindowRect> window;
    if (QWidget* main = parentWidget()) {
        const QRect r = main->frameGeometry();
        window = app::WindowRect{r.left(), r.top(), r.right() + 1, r.bottom() + 1};
    }
    const app::SaveResult result = app_.SaveConfiguration(Form(), window);
    if (!result.Saved()) {
        QString text;
        for (const std::string& why : result.failures) {
            text += QString::fromStdString(why) + "\n";
        }
        QMessageBox::warning(this, Tr("Vorlix configuration"), text.trimmed());
        return;
    }
    done(kConfigSaved);
}

}  // namespace vorlix::gui

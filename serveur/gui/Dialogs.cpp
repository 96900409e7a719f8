#include "serveur/gui/Dialogs.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QMessageBox>
#include <QVBoxLayout>

#include "libkestrel/trace/TraceLevels.h"
#include "serveur/gui/QtOwned.h"

#ifndef VORLIX_VERSION
#define VORLIX_VERSION "0"
#endif

namespace vorlix::gui {

AboutDialog::AboutDialog(int camera, QWidget* parent) : QDialog(parent)
{
    setObjectName("103");
    setWindowTitle("About vorlix");
    auto* layout = QtOwned<QVBoxLayout>(this);
    auto* name = QtOwned<QLabel>(QString("<b>vorlix</b> %1").arg(VORLIX_VERSION), this);
    name->setObjectName("version");
    layout->addWidget(name);
    layout->addWidget(
        QtOwned<QLabel>("Camera surveillance server: motion detection, pictures and a live stream.", this));
    auto* cam = QtOwned<QLabel>(QString("Camera %1").arg(camera), this);
    cam->setObjectName("camera");
    layout->addWidget(cam);
    layout->addWidget(QtOwned<QLabel>(QString("Built with Qt %1").arg(QT_VERSION_STR), this));
    auto* buttons = QtOwned<QDialogButtonBox>(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons);
}

void QtMessageSink::Show(const std::string& text, const std::string& caption)
{
    TRACE_WARN("%s: %s", caption.c_str(), text.c_str());
    QMessageBox::warning(parent_, QString::fromStdString(caption), QString::fromStdString(text));
}

}  // namespace vorlix::gui

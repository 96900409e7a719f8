#include "client/gui/Dialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <climits>

#include "client/gui/QtChild.h"
#include "client/reader/FrameScan.h"
#include "serveur/scrambler/PasswordScrambler.h"

namespace vorlix::client {

namespace {

QDialogButtonBox* OkCancel(QDialog* dialog, const TextOf& text)
{
    auto* buttons = QtChild<QDialogButtonBox>(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
    buttons->button(QDialogButtonBox::Ok)->setText(text("OK"));
    buttons->button(QDialogButtonBox::Cancel)->setText(text("Cancel"));
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return buttons;
}

std::string Utf8(const QLineEdit* field)
{
    return field->text().toStdString();
}

// A number as atoi reads it, kept within int.
int Amount(const QLineEdit* field)
{
    return static_cast<int>(std::clamp<long long>(ReadDecimal(Utf8(field)), INT_MIN, INT_MAX));
}

}  // namespace

ServerChoiceDialog::ServerChoiceDialog(const ViewerSettings& settings, const TextOf& text, QWidget* parent)
    : QDialog(parent), settings_(settings), host_(QtChild<QComboBox>(this)), port_(QtChild<QLineEdit>(this))
{
    setWindowTitle(text("Server choice"));
    host_->setEditable(true);
    host_->lineEdit()->setMaxLength(static_cast<int>(kMaxHostLength));
    for (const std::string& host : settings.Hosts()) {
        host_->addItem(QString::fromStdString(host));
    }
    host_->setEditText(QString::fromStdString(settings.Host(1)));
    port_->setMaxLength(static_cast<int>(kMaxPortTextLength));
    port_->setText(QString::fromStdString(settings.PortText(1)));
    // Picking a saved host shows its port.
    connect(host_, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0) {
            const std::string host = host_->itemText(index).toStdString();
            port_->setText(QString::fromStdString(settings_.PortText(settings_.FindHostIndex(host))));
        }
    });

    auto* form = QtChild<QFormLayout>();
    form->addRow(host_);
    form->addRow(text("Port :"), port_);
    auto* layout = QtChild<QVBoxLayout>(this);
    layout->addLayout(form);
    layout->addWidget(OkCancel(this, text));
}

std::string ServerChoiceDialog::Host() const
{
    return host_->currentText().toStdString().substr(0, kMaxHostLength);
}

std::string ServerChoiceDialog::PortText() const
{
    return Utf8(port_).substr(0, kMaxPortTextLength);
}

PasswordDialog::PasswordDialog(const TextOf& text, QWidget* parent)
    : QDialog(parent), password_(QtChild<QLineEdit>(this)), save_(QtChild<QCheckBox>(text("save it"), this))
{
    setWindowTitle(text("a password is mandatory"));
    password_->setEchoMode(QLineEdit::Password);
    password_->setMaxLength(static_cast<int>(kMaxPlainLength));
    auto* form = QtChild<QFormLayout>();
    form->addRow(text("password :"), password_);
    form->addRow(save_);
    auto* layout = QtChild<QVBoxLayout>(this);
    layout->addLayout(form);
    layout->addWidget(OkCancel(this, text));
}

std::string PasswordDialog::Password() const
{
    return Utf8(password_);
}

bool PasswordDialog::SaveIt() const
{
    return save_->isChecked();
}

AddColorDialog::AddColorDialog(const EffectSettings& current, const TextOf& text, QWidget* parent)
    : QDialog(parent),
      red_(QtChild<QLineEdit>(QString::number(current.red), this)),
      green_(QtChild<QLineEdit>(QString::number(current.green), this)),
      blue_(QtChild<QLineEdit>(QString::number(current.blue), this)),
      modulo_(QtChild<QCheckBox>(text("modulo"), this))
{
    setWindowTitle(text("Add color"));
    modulo_->setChecked(current.colorModulo);
    auto* form = QtChild<QFormLayout>();
    form->addRow(text("Add red"), red_);
    form->addRow(text("Add green"), green_);
    form->addRow(text("Add blue"), blue_);
    form->addRow(modulo_);
    auto* layout = QtChild<QVBoxLayout>(this);
    layout->addLayout(form);
    layout->addWidget(OkCancel(this, text));
}

void AddColorDialog::ApplyTo(EffectSettings& effects) const
{
    effects.red = Amount(red_);
    effects.green = Amount(green_);
    effects.blue = Amount(blue_);
    effects.colorModulo = modulo_->isChecked();
}

}  // namespace vorlix::client

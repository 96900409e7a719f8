// The viewer's three small dialogs: server choice, password, add colour.
// Labels are given already translated by the window.
#pragma once

#include <QDialog>
#include <functional>
#include <string>

#include "client/app/ViewerSettings.h"
#include "client/effects/Effects.h"

class QCheckBox;
class QComboBox;
class QLineEdit;

namespace vorlix::client {

using TextOf = std::function<QString(const char*)>;

// "Server choice": a host (typed or picked from the saved ones) and its port.
class ServerChoiceDialog : public QDialog {
    Q_OBJECT

public:
    ServerChoiceDialog(const ViewerSettings& settings, const TextOf& text, QWidget* parent = nullptr);
    [[nodiscard]] std::string Host() const;
    [[nodiscard]] std::string PortText() const;

private:
    const ViewerSettings& settings_;
    QComboBox* host_;
    QLineEdit* port_;
};

// "a password is mandatory": the password and whether to save it.
class PasswordDialog : public QDialog {
    Q_OBJECT

public:
    PasswordDialog(const TextOf& text, QWidget* parent = nullptr);
    [[nodiscard]] std::string Password() const;
    [[nodiscard]] bool SaveIt() const;

private:
    QLineEdit* password_;
    QCheckBox* save_;
};

// "Add color": the three amounts and the modulo switch.
class AddColorDialog : public QDialog {
    Q_OBJECT

public:
    AddColorDialog(const EffectSettings& current, const TextOf& text, QWidget* parent = nullptr);
    // `effects` with the amounts read as atoi reads them, and the switch.
    void ApplyTo(EffectSettings& effects) const;

private:
    QLineEdit* red_;
    QLineEdit* green_;
    QLineEdit* blue_;
    QCheckBox* modulo_;
};

}  // namespace vorlix::client

// The configuration dialog: twelve pages built from the settings table, a
// "save" that hands the whole form to the frame, a "cancel" that writes
// nothing.
#pragma once

#include <QDialog>
#include <vector>

#include "serveur/app/ConfigTable.h"
#include "serveur/app/TrayText.h"

class QFormLayout;
class QLabel;
class QTabWidget;
class QWidget;

namespace vorlix::app {
class ServerApp;
}

namespace vorlix::gui {

inline constexpr int kConfigDialogResource = 141;
inline constexpr int kConfigSaved = 1;
inline constexpr int kConfigCancelled = 2;

class ConfigDialog : public QDialog {
    Q_OBJECT
public:
    ConfigDialog(app::ServerApp& app, app::TranslateFn translate, QWidget* parent = nullptr);

    // The field's control (null when the field is not shown in this build).
    QWidget* Control(std::size_t field) const { return controls_.at(field); }
    QTabWidget* Tabs() const { return tabs_; }
    // The form as the controls hold it now.
    app::ConfigForm Form() const;
    // "save": the form written and taken by the server; the dialog closes with
    // kConfigSaved, or stays open and says what could not be saved.
    void Save();

private:
    QString Tr(const char* text) const;
    QWidget* BuildPage(const app::PageInfo& page);
    void AddPageExtras(app::ConfigPage page, QFormLayout* layout);
    void AddVideoButtons(QFormLayout* layout);
    void TestAddress();
    void OpenDeviceDialog(bool source);

    app::ServerApp& app_;
    app::TranslateFn translate_;
    app::ConfigForm opened_;
    std::vector<QWidget*> controls_;
    QTabWidget* tabs_ = nullptr;
    QLabel* testResult_ = nullptr;
};

}  // namespace vorlix::gui

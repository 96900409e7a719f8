// The About box and the message boxes of the desktop program.
#pragma once

#include <QDialog>

#include "serveur/app/MessageSink.h"

class QWidget;

namespace vorlix::gui {

// Dialog 103: the program, its version and the camera it serves.
class AboutDialog : public QDialog {
    Q_OBJECT
public:
    AboutDialog(int camera, QWidget* parent = nullptr);
};

// The frame's message boxes as modal warning boxes over the main window;
// also traced, as the headless program does.
class QtMessageSink : public app::MessageSink {
public:
    void SetParent(QWidget* parent) { parent_ = parent; }
    void Show(const std::string& text, const std::string& caption) override;

private:
    QWidget* parent_ = nullptr;
};

}  // namespace vorlix::gui

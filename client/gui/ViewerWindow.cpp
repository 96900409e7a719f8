#include "client/gui/ViewerWindow.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QKeyEvent>
#include <QLayout>
#include <QMenuBar>
#include <QMessageBox>
#include <QShortcut>
#include <QStringDecoder>

#include "client/app/Commands.h"
#include "client/gui/Dialogs.h"
#include "client/gui/HistoryWindow.h"
#include "client/gui/PictureView.h"
#include "client/gui/QtChild.h"
#include "libkestrel/trace/TraceLevels.h"

namespace vorlix::client {

namespace {

constexpr int kTickMs = 100;

// Language files are 8-bit text: UTF-8 when they are valid UTF-8, else
// taken as Latin-1 so that older files still show their accents.
QString Shown(const std::string& text)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString decoded = utf8.decode(QByteArrayView(text.data(), static_cast<qsizetype>(text.size())));
    return utf8.hasError() ? QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())) : decoded;
}

std::string LanguageOf(const std::string& startDir)
{
    return ViewerLanguage(ViewerSettings(ViewerSettings::PathIn(startDir)).Language());
}

}  // namespace

ViewerWindow::ViewerWindow(std::string startDir, ViewerOptions options, QWidget* parent)
    : QMainWindow(parent),
      startDir_(std::move(startDir)),
      options_(std::move(options)),
      language_(startDir_, LanguageOf(startDir_)),
      settings_(ViewerSettings::PathIn(startDir_)),
      context_(settings_.LoadContext()),
      session_(settings_, [this](const std::string& text) { return language_.Translate(text); }),
      pipeline_(PlaceholderPath(startDir_, settings_.Language())),
      saver_(startDir_),
      view_(new PictureView(this))
{
    TRACE_LEVEL(kestrel::kLevelUnclassified, "TRACE directory=%s", (startDir_ + "/traces/Cl_Vorlix").c_str());
    setObjectName("CL_VORLIX");
    setWindowTitle("cl_vorlix");
    setCentralWidget(view_);
    BuildMenus();
    connect(view_, &PictureView::Resized, this, &ViewerWindow::OnClientResized);

    resize(310, 240);
    const Placement placement = PlacementFromRect(context_.rect, Placement{0, 0, 310, 240});
    move(placement.x, placement.y);
    resize(placement.width, placement.height);
    view_->SetStretch(context_.stretch);

    connect(&timer_, &QTimer::timeout, this, &ViewerWindow::Tick);
    timer_.start(kTickMs);
    session_.Start();
    UpdateConnectionUi(!session_.Host().empty());
}

ViewerWindow::~ViewerWindow() = default;

QString ViewerWindow::Text(const char* english) const
{
    return Shown(language_.Translate(english));
}

void ViewerWindow::BuildMenus()
{
    const auto add = [this](QMenu* menu, const MenuEntry& entry, bool checkable) {
        QAction* action = menu->addAction(Text(entry.text));
        action->setData(entry.command);
        action->setCheckable(checkable);
        connect(action, &QAction::triggered, this, [this, command = entry.command] { Run(command); });
        actions_[entry.command] = action;
    };
    QMenu* connection = menuBar()->addMenu(Text(kMenuConnection));
    for (const MenuEntry& entry : kConnectionMenu) {
        if (entry.command == kCmdExit) {
            connection->addSeparator();
        }
        add(connection, entry, false);
    }
    QMenu* display = menuBar()->addMenu(Text(kMenuDisplay));
    QMenu* format = display->addMenu(Text(kMenuFormat));
    for (const MenuEntry& entry : kFormatMenu) {
        add(format, entry, false);
    }
    QMenu* effects = display->addMenu(Text(kMenuEffects));
    for (const MenuEntry& entry : kEffectsMenu) {
        add(effects, entry, true);
    }
    add(display, kHistoryEntry, false);
    QMenu* help = menuBar()->addMenu(Text(kMenuHelp));
    add(help, kAboutEntry, false);
    // Alt with "?" or "/" opens the about box too.
    for (const char* keys : {"Alt+?", "Alt+/"}) {
        connect(QtChild<QShortcut>(QKeySequence(keys), this), &QShortcut::activated, this, [this] { Run(kCmdAbout); });
    }

    const EffectSettings& e = context_.effects;
    Action(kCmdReverseColor)->setChecked(e.reverseColor);
    Action(kCmdBlackAndWhite)->setChecked(e.blackAndWhite);
    Action(kCmdHorizontalMirror)->setChecked(e.horizontalMirror);
    Action(kCmdVerticalMirror)->setChecked(e.verticalMirror);
    Action(kCmdBiColor)->setChecked(e.biColor);
    Action(kCmdAddColor)->setChecked(e.addColor);
}

QAction* ViewerWindow::Action(int command) const
{
    const auto found = actions_.find(command);
    return found == actions_.end() ? nullptr : found->second;
}

void ViewerWindow::Run(int command)
{
    switch (command) {
        case kCmdOpen:
            OpenServerChoice();
            break;
        case kCmdClose:
            session_.Close();
            UpdateConnectionUi(false);
            break;
        case kCmdSaveContext:
            SaveContext();
            break;
        case kCmdSaveImage:
            saver_.Save(display_, language_.Translate("Vorlix ==> %s Quality : %d%%"));
            break;
        case kCmdExit:
            close();
            break;
        case kCmdOriginalSize:
            context_.stretch = false;
            view_->SetStretch(false);
            break;
        case kCmdFormat640:
        case kCmdFormat320:
        case kCmdFormat160:
            ApplyFormat(command);
            break;
        case kCmdReverseColor:
        case kCmdBlackAndWhite:
        case kCmdHorizontalMirror:
        case kCmdVerticalMirror:
        case kCmdBiColor:
            ToggleEffect(command);
            break;
        case kCmdAddColor:
            AddColor();
            break;
        case kCmdHistory:
            OpenHistory();
            break;
        case kCmdAbout:
            QMessageBox::about(
                this, Text("about..."),
                QStringLiteral("cl_vorlix %1\n%2").arg(QStringLiteral(VORLIX_VERSION), Text("Vorlix viewer")));
            break;
        default:
            break;
    }
}

void ViewerWindow::Tick()
{
    session_.Tick(*this);
}

void ViewerWindow::UpdateConnectionUi(bool tried)
{
    const bool connected = session_.Connected();
    Action(kCmdOpen)->setEnabled(!connected);
    Action(kCmdClose)->setEnabled(connected);
    if (tried) {
        const char* title = connected ? "Client Vorlix (%s)" : "Client Vorlix (!%s)";
        setWindowTitle(Shown(FillText(language_.Translate(title), {session_.Host()})));
    }
}

bool ViewerWindow::DisplayPicture(std::span<const std::uint8_t> jpeg)
{
    if (!pipeline_.Render(jpeg, context_.effects, display_)) {
        return false;  // the window keeps what it showed
    }
    view_->SetPicture(ToImage(display_));
    return true;
}

void ViewerWindow::Redraw()
{
    if (!lastJpeg_.empty()) {
        DisplayPicture(lastJpeg_);
    }
}

void ViewerWindow::ShowLiveFrame(std::span<const std::uint8_t> jpeg)
{
    lastJpeg_.assign(jpeg.begin(), jpeg.end());
    view_->SetStatusText({});
    if (DisplayPicture(jpeg) && !options_.snapshot.empty()) {
        TakeSnapshot(jpeg);
    }
}

std::optional<PasswordEntry> ViewerWindow::AskPassword()
{
    PasswordDialog dialog([this](const char* text) { return Text(text); }, this);
    if (dialog.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    return PasswordEntry{dialog.Password(), dialog.SaveIt()};
}

void ViewerWindow::ShowHistory()
{
    if (HistoryWindow* window = LastHistoryWindow()) {
        window->Refresh();
    }
}

void ViewerWindow::ShowDisconnected(bool pictureWasShown)
{
    UpdateConnectionUi(false);
    if (pictureWasShown) {
        lastJpeg_.clear();
        if (!DisplayPicture({})) {
            view_->SetPicture({});  // no placeholder picture: an empty area
        }
    }
}

void ViewerWindow::ShowStatus(const std::string& text)
{
    view_->SetStatusText(Shown(ticker_.Next(text)));
}

void ViewerWindow::OpenServerChoice()
{
    ServerChoiceDialog dialog(
        session_.Settings(), [this](const char* text) { return Text(text); }, this);
    if (dialog.exec() == QDialog::Accepted) {
        session_.ConnectChosen(dialog.Host(), dialog.PortText());
        UpdateConnectionUi(true);
    }
}

void ViewerWindow::ToggleEffect(int command)
{
    EffectSettings& e = context_.effects;
    bool& flag = command == kCmdReverseColor       ? e.reverseColor
                 : command == kCmdBlackAndWhite    ? e.blackAndWhite
                 : command == kCmdHorizontalMirror ? e.horizontalMirror
                 : command == kCmdVerticalMirror   ? e.verticalMirror
                                                   : e.biColor;
    flag = !flag;
    Action(command)->setChecked(flag);
    Redraw();
}

void ViewerWindow::AddColor()
{
    EffectSettings& e = context_.effects;
    if (e.addColor) {
        e.addColor = false;
    } else {
        AddColorDialog dialog(
            e, [this](const char* text) { return Text(text); }, this);
        if (dialog.exec() == QDialog::Accepted) {
            dialog.ApplyTo(e);
        }
        e.addColor = true;  // checked whichever button closed the dialog
    }
    Action(kCmdAddColor)->setChecked(e.addColor);
    Redraw();
}

void ViewerWindow::ApplyFormat(int command)
{
    const FormatSize format = FormatOf(command);
    context_.stretch = true;
    view_->SetStretch(true);
    // First the window gets the size itself; then it grows by what its
    // client area lacks (the menu bar, the frame), so that the picture area
    // ends exactly at the size asked for.
    resize(format.width, format.height);
    layout()->activate();
    const Size client{view_->width(), view_->height()};
    if (const std::optional<Size> growth = FormatGrowth({format.width, format.height}, client)) {
        TRACE_LEVEL(kestrel::kLevelUnclassified, "resize(+%d,+%d)", growth->width, growth->height);
        resize(width() + growth->width, height() + growth->height);
        layout()->activate();
    } else {
        TRACE_LEVEL(kestrel::kLevelUnclassified, "size(%d,%d)", client.width, client.height);
    }
}

void ViewerWindow::OnClientResized(QSize size)
{
    TRACE_LEVEL(kestrel::kLevelUnclassified, "size(%d,%d)", size.width(), size.height());
}

void ViewerWindow::OpenHistory()
{
    auto* window = new HistoryWindow(
        session_, [this] { return context_.effects; }, [this](const char* text) { return Text(text); }, this);
    histories_.emplace_back(window);
    window->OpenNewest();
}

HistoryWindow* ViewerWindow::LastHistoryWindow() const
{
    for (auto it = histories_.rbegin(); it != histories_.rend(); ++it) {
        if (!it->isNull()) {
            return it->data();
        }
    }
    return nullptr;
}

void ViewerWindow::SaveContext()
{
    context_.rect = RectFromPlacement({x(), y(), width(), height()});
    context_.stretch = view_->Stretch();
    settings_.SaveContext(context_);
}

void ViewerWindow::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        menuBar()->setVisible(!menuBar()->isVisible());
        return;
    }
    QMainWindow::keyPressEvent(event);
}

void ViewerWindow::TakeSnapshot(std::span<const std::uint8_t> jpeg)
{
    const QString path = QString::fromStdString(options_.snapshot);
    QFile bytes(path + ".jpg");
    const bool saved = grab().save(path, "PNG") && bytes.open(QIODevice::WriteOnly) &&
                       bytes.write(reinterpret_cast<const char*>(jpeg.data()), static_cast<qint64>(jpeg.size())) ==
                           static_cast<qint64>(jpeg.size());
    bytes.close();
    options_.snapshot.clear();
    QCoreApplication::exit(saved ? 0 : 1);
}

}  // namespace vorlix::client

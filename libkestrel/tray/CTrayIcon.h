// One icon in the desktop's notification area, with its tip and its menu.
// The icon's state is one notification record; every change goes to the
// desktop through a shell (Qt's system tray icon by default) as "add",
// "modify" or "delete", and a failed add or modify leaves the icon "not
// shown", so the next icon is added anew. Mouse notifications reach the
// owner as its notification message; the owner hands them back to
// OnTrayNotification, which shows the icon's menu or runs its first command.
// Used on the owner's (GUI) thread only.
#pragma once

#include <QIcon>
#include <QMenu>
#include <QPoint>
#include <QStyle>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class QSystemTrayIcon;
class QWidget;

namespace kestrel {

inline constexpr std::uint32_t kTrayRecordSize = 488;
inline constexpr std::size_t kTrayTipSize = 128;  // with its terminating zero

inline constexpr unsigned kTrayFlagMessage = 0x1;
inline constexpr unsigned kTrayFlagIcon = 0x2;
inline constexpr unsigned kTrayFlagTip = 0x4;

// The mouse messages of a notification.
inline constexpr unsigned kMouseLeftUp = 0x202;
inline constexpr unsigned kMouseLeftDoubleClick = 0x203;
inline constexpr unsigned kMouseRightUp = 0x205;

// The window that owns an icon.
class TrayOwner {
public:
    virtual ~TrayOwner() = default;
    // The notification message `message` for icon `id` with `mouseMessage`.
    virtual void OnTrayMessage(unsigned message, unsigned id, unsigned mouseMessage) = 0;
    // A command of the icon's menu, chosen or run by default.
    virtual void OnTrayCommand(int command) = 0;
    // Brought to the front before the menu shows; may be null.
    virtual QWidget* TrayWidget() = 0;
};

struct TrayIconRecord {
    std::uint32_t size = 0;
    TrayOwner* window = nullptr;
    unsigned id = 0;
    unsigned flags = 0;
    unsigned callbackMessage = 0;
    QIcon icon;  // null: no icon shown
    std::array<char, kTrayTipSize> tip{};
};

enum class TrayAction { kAdd, kModify, kDelete };

// Where the record goes.
class TrayShell {
public:
    virtual ~TrayShell() = default;
    virtual bool Notify(TrayAction action, const TrayIconRecord& record) = 0;
};

// The desktop's notification area through QSystemTrayIcon. Fails to add
// when the desktop has none.
class QtTrayShell final : public TrayShell {
public:
    QtTrayShell();
    ~QtTrayShell() override;
    QtTrayShell(const QtTrayShell&) = delete;
    QtTrayShell& operator=(const QtTrayShell&) = delete;
    bool Notify(TrayAction action, const TrayIconRecord& record) override;
    static bool Available();

private:
    void Apply(const TrayIconRecord& record);
    std::unique_ptr<QSystemTrayIcon> icon_;
    TrayIconRecord record_;
};

class CTrayIcon {
public:
    // The icon's menu by number (the first item is the default); null when missing.
    using MenuLoader = std::function<std::unique_ptr<QMenu>(unsigned id)>;
    // Shows `menu` at `at` and returns the chosen item (null: none).
    using PopupRunner = std::function<QAction*(QMenu& menu, QPoint at)>;
    // Icon and tip text by resource number (a null icon: none).
    using IconLoader = std::function<QIcon(unsigned id)>;
    using TextLoader = std::function<std::string(unsigned id)>;

    explicit CTrayIcon(unsigned id, std::unique_ptr<TrayShell> shell = nullptr);
    virtual ~CTrayIcon();
    CTrayIcon(const CTrayIcon&) = delete;
    CTrayIcon& operator=(const CTrayIcon&) = delete;

    void SetNotificationWnd(TrayOwner* window, unsigned message);
    // Adds, changes or (null icon) removes the icon; `tip` null keeps the
    // tip. Returns the shell's result (non-zero on success).
    int SetIcon(const QIcon& icon, const char* tip);
    // The icon and tip of resource `resource` (0 removes the icon).
    int SetIcon(unsigned resource);
    int SetStandardIcon(QStyle::StandardPixmap icon, const char* tip);

    // 1 when handled, 0 otherwise.
    virtual int OnTrayNotification(unsigned id, unsigned mouseMessage);

    void SetMenuLoader(MenuLoader loader) { menus_ = std::move(loader); }
    void SetPopupRunner(PopupRunner runner) { popup_ = std::move(runner); }
    void SetResources(IconLoader icons, TextLoader texts);

    const TrayIconRecord& Record() const { return record_; }
    bool Shown() const { return !record_.icon.isNull(); }

private:
    TrayIconRecord record_;
    std::unique_ptr<TrayShell> shell_;
    MenuLoader menus_;
    PopupRunner popup_;
    IconLoader icons_;
    TextLoader texts_;
};

}  // namespace kestrel

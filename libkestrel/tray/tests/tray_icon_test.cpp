// The tray icon's record and its add / modify / delete logic, against a shell
// that records what it is told, and its notifications.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPixmap>
#include <string>
#include <vector>

#include "libkestrel/tray/CTrayIcon.h"

using namespace kestrel;

namespace {

struct Call {
    TrayAction action;
    unsigned flags;
    std::string tip;
    bool hasWindow;
};

struct ShellLog {
    std::vector<Call> calls;
    bool fail = false;
};

class RecordingShell : public TrayShell {
public:
    explicit RecordingShell(ShellLog& log) : log_(log) {}
    bool Notify(TrayAction action, const TrayIconRecord& record) override
    {
        EXPECT_EQ(record.size, kTrayRecordSize);
        log_.calls.push_back({action, record.flags, record.tip.data(), record.window != nullptr});
        return !log_.fail;
    }

private:
    ShellLog& log_;
};

QIcon SomeIcon(Qt::GlobalColor colour)
{
    QPixmap p(16, 16);
    p.fill(colour);
    return QIcon(p);
}

class Owner : public TrayOwner {
public:
    void OnTrayMessage(unsigned message, unsigned id, unsigned mouse) override
    {
        messages.push_back({message, id, mouse});
    }
    void OnTrayCommand(int command) override { commands.push_back(command); }
    QWidget* TrayWidget() override { return nullptr; }
    struct Message {
        unsigned message, id, mouse;
    };
    std::vector<Message> messages;
    std::vector<int> commands;
};

std::unique_ptr<QMenu> TwoItemMenu(unsigned id)
{
    if (id != 107) {
        return nullptr;
    }
    auto menu = std::make_unique<QMenu>();
    menu->addAction("Display")->setData(32788);
    menu->addAction("Exit")->setData(32789);
    return menu;
}

}  // namespace

TEST(TrayIconTest, AddsThenModifiesThenDeletesAndReusesAfterRemoval)
{
    ShellLog log;
    CTrayIcon tray(107, std::make_unique<RecordingShell>(log));
    EXPECT_EQ(tray.Record().id, 107U);
    EXPECT_EQ(tray.Record().size, kTrayRecordSize);

    // Nothing shown: removal answers 1 without a shell call.
    EXPECT_EQ(tray.SetIcon(QIcon(), "gone"), 1);
    EXPECT_TRUE(log.calls.empty());

    EXPECT_EQ(tray.SetIcon(SomeIcon(Qt::red), "first"), 1);
    EXPECT_EQ(tray.SetIcon(SomeIcon(Qt::green), nullptr), 1);  // keeps the tip
    EXPECT_EQ(tray.SetIcon(QIcon(), nullptr), 1);
    EXPECT_FALSE(tray.Shown());
    EXPECT_EQ(tray.SetIcon(SomeIcon(Qt::blue), "again"), 1);
    ASSERT_EQ(log.calls.size(), 4U);
    EXPECT_EQ(log.calls[0].action, TrayAction::kAdd);
    EXPECT_EQ(log.calls[0].flags, kTrayFlagIcon | kTrayFlagTip);
    EXPECT_EQ(log.calls[1].action, TrayAction::kModify);
    EXPECT_EQ(log.calls[1].tip, "first");
    EXPECT_EQ(log.calls[2].action, TrayAction::kDelete);
    EXPECT_EQ(log.calls[2].flags, kTrayFlagTip);  // no icon flag on delete
    EXPECT_EQ(log.calls[3].action, TrayAction::kAdd);
    EXPECT_EQ(log.calls[3].tip, "again");
}

TEST(TrayIconTest, AFailedAddOrModifyLeavesNothingShownSoTheNextIconIsAdded)
{
    ShellLog log;
    CTrayIcon tray(107, std::make_unique<RecordingShell>(log));
    log.fail = true;
    EXPECT_EQ(tray.SetIcon(SomeIcon(Qt::red), "x"), 0);
    EXPECT_FALSE(tray.Shown());
    log.fail = false;
    EXPECT_EQ(tray.SetIcon(SomeIcon(Qt::red), "x"), 1);
    log.fail = true;
    EXPECT_EQ(tray.SetIcon(SomeIcon(Qt::green), "y"), 0);
    EXPECT_FALSE(tray.Shown());
    log.fail = false;
    EXPECT_EQ(tray.SetIcon(SomeIcon(Qt::green), "y"), 1);
    ASSERT_EQ(log.calls.size(), 4U);
    EXPECT_EQ(log.calls[0].action, TrayAction::kAdd);
    EXPECT_EQ(log.calls[1].action, TrayAction::kAdd);
    EXPECT_EQ(log.calls[2].action, TrayAction::kModify);
    EXPECT_EQ(log.calls[3].action, TrayAction::kAdd);
}

TEST(TrayIconTest, TipIsCutTo127CharactersAndAnEmptyTipSetsNoFlag)
{
    ShellLog log;
    CTrayIcon tray(107, std::make_unique<RecordingShell>(log));
    EXPECT_EQ(tray.SetIcon(SomeIcon(Qt::red), ""), 1);
    EXPECT_EQ(log.calls.back().flags, kTrayFlagIcon);
    const std::string longTip(300, 'a');
    EXPECT_EQ(tray.SetIcon(SomeIcon(Qt::red), longTip.c_str()), 1);
    EXPECT_EQ(log.calls.back().tip, std::string(127, 'a'));
    EXPECT_EQ(std::string(tray.Record().tip.data()).size(), 127U);
    EXPECT_EQ(tray.SetIcon(SomeIcon(Qt::red), std::string(127, 'b').c_str()), 1);
    EXPECT_EQ(log.calls.back().tip, std::string(127, 'b'));
}

TEST(TrayIconTest, MessageFlagOnlyWithBothWindowAndMessage)
{
    ShellLog log;
    Owner owner;
    CTrayIcon tray(107, std::make_unique<RecordingShell>(log));
    tray.SetNotificationWnd(nullptr, 1024);
    tray.SetIcon(SomeIcon(Qt::red), "t");
    EXPECT_EQ(log.calls.back().flags & kTrayFlagMessage, 0U);
    tray.SetNotificationWnd(&owner, 0);
    tray.SetIcon(SomeIcon(Qt::red), "t");
    EXPECT_EQ(log.calls.back().flags & kTrayFlagMessage, 0U);
    tray.SetNotificationWnd(&owner, 1024);
    tray.SetIcon(SomeIcon(Qt::red), "t");
    EXPECT_EQ(log.calls.back().flags & kTrayFlagMessage, kTrayFlagMessage);
    EXPECT_EQ(tray.Record().callbackMessage, 1024U);
}

TEST(TrayIconTest, ResourceNumbersGiveIconAndTipAndZeroRemoves)
{
    ShellLog log;
    CTrayIcon tray(107, std::make_unique<RecordingShell>(log));
    std::vector<unsigned> asked;
    tray.SetResources(
        [&asked](unsigned id) {
            asked.push_back(id);
            return id == 141 ? SomeIcon(Qt::gray) : QIcon();
        },
        [](unsigned id) { return "tip " + std::to_string(id); });
    EXPECT_EQ(tray.SetIcon(141U), 1);
    EXPECT_EQ(log.calls.back().action, TrayAction::kAdd);
    EXPECT_EQ(log.calls.back().tip, "tip 141");
    // A missing icon resource is a removal.
    EXPECT_EQ(tray.SetIcon(999U), 1);
    EXPECT_EQ(log.calls.back().action, TrayAction::kDelete);
    EXPECT_EQ(tray.SetIcon(0U), 1);
    EXPECT_EQ(log.calls.size(), 2U);
    EXPECT_EQ(asked, (std::vector<unsigned>{141, 999}));
}

TEST(TrayIconTest, NotificationsShowTheMenuOrRunItsFirstCommand)
{
    ShellLog log;
    Owner owner;
    CTrayIcon tray(107, std::make_unique<RecordingShell>(log));
    tray.SetNotificationWnd(&owner, 1024);
    QString defaultShown;
    int popups = 0;
    tray.SetPopupRunner([&](QMenu& menu, QPoint) -> QAction* {
        ++popups;
        defaultShown = menu.defaultAction() != nullptr ? menu.defaultAction()->text() : QString();
        return menu.actions().at(1);  // the user picks "Exit"
    });
    // Without a menu nothing is handled.
    EXPECT_EQ(tray.OnTrayNotification(107, kMouseRightUp), 0);
    tray.SetMenuLoader(TwoItemMenu);
    EXPECT_EQ(tray.OnTrayNotification(108, kMouseRightUp), 0);
    EXPECT_EQ(tray.OnTrayNotification(107, kMouseLeftUp), 0);
    EXPECT_TRUE(owner.commands.empty());
    EXPECT_EQ(popups, 0);

    EXPECT_EQ(tray.OnTrayNotification(107, kMouseRightUp), 1);
    EXPECT_EQ(popups, 1);
    EXPECT_EQ(defaultShown, "Display");
    EXPECT_EQ(tray.OnTrayNotification(107, kMouseLeftDoubleClick), 1);
    EXPECT_EQ(popups, 1);
    EXPECT_EQ(owner.commands, (std::vector<int>{32789, 32788}));

    // A menu whose number does not load is not handled.
    CTrayIcon other(5, std::make_unique<RecordingShell>(log));
    other.SetNotificationWnd(&owner, 1024);
    other.SetMenuLoader(TwoItemMenu);
    EXPECT_EQ(other.OnTrayNotification(5, kMouseLeftDoubleClick), 0);
}

TEST(TrayIconTest, DestructionRemovesAShownIcon)
{
    ShellLog log;
    {
        CTrayIcon tray(107, std::make_unique<RecordingShell>(log));
        tray.SetIcon(SomeIcon(Qt::red), "t");
    }
    ASSERT_EQ(log.calls.size(), 2U);
    EXPECT_EQ(log.calls.back().action, TrayAction::kDelete);
}

TEST(TrayIconTest, WithoutADesktopTrayTheQtShellRefusesToAdd)
{
    if (QtTrayShell::Available()) {
        GTEST_SKIP() << "this desktop has a notification area";
    }
    CTrayIcon tray(107);
    EXPECT_EQ(tray.SetIcon(SomeIcon(Qt::red), "t"), 0);
    EXPECT_FALSE(tray.Shown());
}

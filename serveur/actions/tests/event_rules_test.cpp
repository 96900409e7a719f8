// Event names, the sound replay rule, the Execute keywords and the history.
#include <gtest/gtest.h>

#include <string>

#include "libkestrel/exec/CommandLine.h"
#include "serveur/actions/EventNames.h"
#include "serveur/actions/ExecuteLine.h"
#include "serveur/actions/History.h"
#include "serveur/actions/SoundChoice.h"

namespace vorlix {
namespace {

TEST(EventNames, LabelsKeysAndSoundIdentities)
{
    EventNames in = NameEvent(0, EventKind::IN, 0);
    EXPECT_EQ(in.label, "In zone 1");
    EXPECT_EQ(in.oldKey, "Wav file 1");
    EXPECT_EQ(in.sound, 0);
    EventNames nearZone = NameEvent(2, EventKind::NEAR, 0);
    EXPECT_EQ(nearZone.label, "Near zone 3");
    EXPECT_FALSE(nearZone.oldKey.has_value());
    EXPECT_EQ(NameEvent(1, EventKind::AHEAD, 0).label, "In front of zone 2");
    EventNames all = NameEvent(5, EventKind::ALLZ, 0);
    EXPECT_EQ(all.label, "All zones");
    EXPECT_EQ(all.oldKey, "Wav file all zones");
    EXPECT_EQ(all.sound, 2);
    EventNames some = NameEvent(0, EventKind::SOMEZ, 0b101);
    EXPECT_EQ(some.label, "Zones 1 3");
    EXPECT_EQ(some.oldKey, "Wav file 1 3");
    EXPECT_EQ(some.sound, 5 + 32);
    EventNames left = NameEvent(0, EventKind::LEFT_TO_RIGHT, 0);
    EXPECT_EQ(left.label, "In zone 1 left to right");
    EXPECT_EQ(left.oldKey, "Wav file 1 left to right");
    EXPECT_EQ(left.sound, 1024);
    EXPECT_TRUE(left.direction);
    EXPECT_EQ(NameEvent(2, EventKind::TOP_TO_BOTTOM, 0).sound, 2 + 8192);
    EXPECT_EQ(NameEvent(1, EventKind::BOTTOM_TO_TOP, 0).label, "In zone 2 bottom to top");
    EXPECT_EQ(NameEvent(3, static_cast<EventKind>(42), 0).label, "?zone 4");
    EXPECT_EQ(DirectionTag(0, EventKind::RIGHT_TO_LEFT), "Z_1_RIGHT_TO_LEFT");
}

// Plays like the events do: skipped early, else claimed.
bool Play(SoundState& state, const EventNames& names, int zone, std::time_t now, int replay = 15)
{
    if (SoundRecentlyPlayed(state, names.sound, now, replay)) {
        return false;
    }
    return ClaimSound(state, names.sound, zone, names.direction, now, replay);
}

TEST(SoundReplay, SameSoundWithinReplayPlaysOnce)
{
    SoundState state;
    const EventNames zone1 = NameEvent(0, EventKind::IN, 0);
    // the state starts at sound 0, time 0: the first event still plays
    EXPECT_TRUE(Play(state, zone1, 0, 100000));
    EXPECT_FALSE(Play(state, zone1, 0, 100005));
    EXPECT_FALSE(Play(state, zone1, 0, 100015));
    EXPECT_TRUE(Play(state, zone1, 0, 100016));
}

TEST(SoundReplay, AnotherZoneInBetweenLetsTheFirstPlayAgain)
{
    SoundState state;
    const EventNames zone1 = NameEvent(0, EventKind::IN, 0);
    const EventNames zone2 = NameEvent(1, EventKind::IN, 0);
    EXPECT_TRUE(Play(state, zone1, 0, 1000));
    EXPECT_TRUE(Play(state, zone2, 1, 1002));
    EXPECT_TRUE(Play(state, zone1, 0, 1005));
}

TEST(SoundReplay, DirectionEventSilencesTheZonesOwnSound)
{
    SoundState state;
    const EventNames direction = NameEvent(0, EventKind::LEFT_TO_RIGHT, 0);
    const EventNames in = NameEvent(0, EventKind::IN, 0);
    EXPECT_TRUE(Play(state, direction, 0, 5000));
    EXPECT_EQ(state.lastSound, 0);
    EXPECT_FALSE(Play(state, in, 0, 5010));
    // the same direction again within the time is quiet, later it plays
    EXPECT_FALSE(Play(state, direction, 0, 5012));
    EXPECT_TRUE(Play(state, direction, 0, 5031));
}

TEST(SoundReplay, ZoneOtherThanZeroDirectionBlocksItsZone)
{
    SoundState state;
    EXPECT_TRUE(Play(state, NameEvent(2, EventKind::RIGHT_TO_LEFT, 0), 2, 700));
    EXPECT_FALSE(Play(state, NameEvent(2, EventKind::AHEAD, 0), 2, 705));
    EXPECT_TRUE(Play(state, NameEvent(2, EventKind::LEFT_TO_RIGHT, 0), 2, 706));
}

ExecuteValues AllZones()
{
    ExecuteValues values;
    values.picture = "/srv/files/vorlix_7.jpg";
    values.camera = 2;
    values.kind = 1;
    values.width = 640;
    values.height = 480;
    values.label = "All zones";
    return values;
}

TEST(ExecuteArguments, AllZonesGivesZoneZero)
{
    EXPECT_EQ(ExecuteCommandLine("notify", "-f %n -z %f -c %c", AllZones()),
              "notify -f /srv/files/vorlix_7.jpg -z 0 -c 2");
    EXPECT_EQ(ExecuteCommandLine("notify", "", AllZones()), "notify");
}

TEST(ExecuteArguments, EveryKeyword)
{
    ExecuteValues values = AllZones();
    values.zone = 3;
    values.centreX = 11;
    values.centreY = 12;
    values.x = 1;
    values.y = 2;
    values.w = 30;
    values.h = 40;
    values.kind = 4;
    values.label = "In front of zone 3";
    EXPECT_EQ(ExpandArguments("%n|%f|%a|%o|%x|%y|%w|%h|%H|%W|%c|%e|%E|%%|%q", values),
              "/srv/files/vorlix_7.jpg|3|11|12|1|2|30|40|480|640|2|4|In front of zone 3|%|q");
}

TEST(ExecuteArguments, TrailingPercentEndsTheLine)
{
    EXPECT_EQ(ExpandArguments("-c %c %", AllZones()), "-c 2 ");
    EXPECT_EQ(ExpandArguments("%", AllZones()), "");
    EXPECT_EQ(ExpandArguments("100%%", AllZones()), "100%");
}

TEST(ExecuteArguments, KeywordsExpandInsideTheirWord)
{
    ExecuteValues values = AllZones();
    values.picture = "/srv/my pics/vorlix_7.jpg";
    values.label = "All zones";
    EXPECT_EQ(ExecuteArguments("-f %n -l \"[%E]\" -c %c %", values),
              (std::vector<std::string>{"-f", "/srv/my pics/vorlix_7.jpg", "-l", "[All zones]", "-c", "2"}));
    EXPECT_EQ(ExecuteArguments("\"\" x", values), (std::vector<std::string>{"", "x"}));
    EXPECT_EQ(ExecuteCommandLine("notify", "%n %E", values), "notify \"/srv/my pics/vorlix_7.jpg\" \"All zones\"");
    EXPECT_EQ(kestrel::exec::SplitCommandLine(ExecuteCommandLine("notify", "%n %E say\\\"hi\\\"", values)),
              (std::vector<std::string>{"notify", "/srv/my pics/vorlix_7.jpg", "All zones", "say\"hi\""}));
}

TEST(History, EntryAndNewHistoryAfterQuiet)
{
    std::tm local{};
    local.tm_year = 126;
    local.tm_mon = 11;
    local.tm_mday = 6;
    local.tm_wday = 0;
    local.tm_hour = 8;
    local.tm_min = 26;
    local.tm_sec = 20;
    const std::string entry = EventEntry(local, 17, "In zone 1");
    EXPECT_EQ(entry, "Sun Dec 06 08:26:20 2026 Events(17)=\"In zone 1\"");

    std::string history;
    std::time_t last = 0;
    AddToHistory(history, last, 1000, 30, "a");
    AddToHistory(history, last, 1030, 30, "b");
    EXPECT_EQ(history, "a\r\nb\r\n");
    AddToHistory(history, last, 1061, 30, "c");
    EXPECT_EQ(history, "c\r\n");
    EXPECT_EQ(last, 1061);
}

}  // namespace
}  // namespace vorlix

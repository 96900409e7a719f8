#include "serveur/actions/EventNames.h"

namespace vorlix {

EventNames NameEvent(int zone, EventKind kind, std::uint32_t mask)
{
    const std::string z = std::to_string(zone + 1);
    EventNames names;
    switch (kind) {
        case EventKind::ALLZ:
            names.label = "All zones";
            names.oldKey = "Wav file all zones";
            names.sound = 2;
            break;
        case EventKind::NEAR:
            names.label = "Near zone " + z;
            names.sound = zone;
            break;
        case EventKind::IN:
            names.label = "In zone " + z;
            names.oldKey = "Wav file " + z;
            names.sound = zone;
            break;
        case EventKind::AHEAD:
            names.label = "In front of zone " + z;
            names.oldKey = "Wav file " + z;
            names.sound = zone;
            break;
        case EventKind::SOMEZ: {
            std::string numbers;
            for (int i = 0; i < 32; ++i) {
                if ((mask & (std::uint32_t{1} << i)) != 0) {
                    numbers += " " + std::to_string(i + 1);
                }
            }
            names.label = "Zones" + numbers;
            names.oldKey = "Wav file" + numbers;
            names.sound = static_cast<int>(mask) + 32;
            break;
        }
        case EventKind::LEFT_TO_RIGHT:
        case EventKind::RIGHT_TO_LEFT:
        case EventKind::BOTTOM_TO_TOP:
        case EventKind::TOP_TO_BOTTOM: {
            static constexpr const char* kWords[] = {"left to right", "right to left", "bottom to top",
                                                     "top to bottom"};
            static constexpr int kOffsets[] = {1024, 2048, 4096, 8192};
            const int index = static_cast<int>(kind) - static_cast<int>(EventKind::LEFT_TO_RIGHT);
            names.label = "In zone " + z + " " + kWords[index];
            names.oldKey = "Wav file " + z + " " + kWords[index];
            names.sound = zone + kOffsets[index];
            names.direction = true;
            break;
        }
        default:
            names.label = "?zone " + z;
            names.oldKey = "Wav file " + z;
            names.sound = zone;
            break;
    }
    return names;
}

std::string DirectionTag(int zone, EventKind kind)
{
    const std::string z = "Z_" + std::to_string(zone + 1);
    switch (kind) {
        case EventKind::LEFT_TO_RIGHT:
            return z + "_LEFT_TO_RIGHT";
        case EventKind::RIGHT_TO_LEFT:
            return z + "_RIGHT_TO_LEFT";
        case EventKind::BOTTOM_TO_TOP:
            return z + "_BOTTOM_TO_TOP";
        case EventKind::TOP_TO_BOTTOM:
            return z + "_TOP_TO_BOTTOM";
        default:
            return {};
    }
}

bool IsSingleZoneEvent(EventKind kind)
{
    return kind != EventKind::ALLZ && kind != EventKind::SOMEZ;
}

}  // namespace vorlix

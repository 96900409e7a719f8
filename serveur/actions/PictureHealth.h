// Whether the camera's pictures reach the disk. A full disk or a directory
// that cannot be written loses every picture until it is mended; that is
// said once when the first picture is lost (warning, with the file and the
// reason) and once when a picture is written again, in the trace and in the
// events list, and the status line shows it meanwhile.
#pragma once

#include <mutex>
#include <string>

namespace vorlix {

class EventFiring;

class PictureHealth {
public:
    // Lines for the events list go through `events` (its window, when open).
    explicit PictureHealth(EventFiring* events = nullptr) : events_(events) {}

    // After each picture write, on the capture thread.
    void Written(const std::string& path);
    void Failed(const std::string& path, int error);

    // Empty while pictures are written, else the reason of the current
    // failure streak (for the status line); any thread.
    [[nodiscard]] std::string Trouble() const;
    // Pictures lost in the current streak.
    [[nodiscard]] int Lost() const;

private:
    void Tell(const std::string& line);

    EventFiring* events_;
    mutable std::mutex lock_;
    std::string trouble_;
    int lost_ = 0;
};

}  // namespace vorlix

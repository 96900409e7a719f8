// The camera's one events window: the event actions, the FTP uploader, the
// mail sender and the sound recorder all add their lines here, from the
// capture thread and from their own threads. Every line is traced (so the
// headless program shows the events list in its trace), and handed to the
// desktop's events list while one is attached.
#pragma once

#include <mutex>
#include <string>

#include "serveur/actions/ActionSeams.h"

namespace vorlix::app {

class EventsFeed final : public EventsWindow {
public:
    // Safe from any thread. The line goes to the attached list under a lock,
    // so a list that is being detached never receives a line afterwards; the
    // list's AddEntry must only queue it (it is called off the GUI thread).
    void AddEntry(const std::string& line) override;

    // The desktop's events list while it is open; null detaches it. Returns
    // once no line is being handed to the previous list.
    void Attach(EventsWindow* list);

private:
    std::mutex lock_;
    EventsWindow* list_ = nullptr;
};

}  // namespace vorlix::app

// The mail sender's stop on the detection road: one more event counted, with
// the shot counter its picture brings. The mail itself goes from the mail
// thread at its next check.
#pragma once

#include "serveur/core/Road.h"
#include "serveur/mail/MailWorker.h"

namespace vorlix {

class MailRoadStop final : public DetectionConsumer {
public:
    explicit MailRoadStop(MailWorker& worker) : worker_(worker) {}
    void OnDetection(const Detection& detection) override { worker_.NotifyMailEvent(detection.shot); }

private:
    MailWorker& worker_;
};

}  // namespace vorlix

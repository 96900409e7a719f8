// The pictures of the history ring on request: "History: newer", "older" or a
// picture number, answered with the picture and the ring's position.
#pragma once

#include <optional>
#include <string>

#include "serveur/stream/StreamCamera.h"
#include "serveur/stream/StreamClient.h"

namespace kestrel {
class SpareFd;
}

namespace vorlix {

// The history frame answering `argument` (deadline not set), or nullopt when
// the picture cannot be read (traced) or is empty: the viewer then gets no
// answer, as the protocol has none for a missing picture.
std::optional<OutgoingFrame> HistoryFrame(const StreamCamera& camera, const std::string& argument,
                                          kestrel::SpareFd& spare);

}  // namespace vorlix

#include "serveur/stream/StreamAcceptor.h"

#include <cerrno>
#include <system_error>

#include "libkestrel/trace/TraceLevels.h"

namespace vorlix {

namespace {

constexpr std::chrono::seconds kCapWarningEvery{10};

std::string ErrnoText(int error)
{
    return std::error_code(error, std::generic_category()).message();
}

}  // namespace

bool StreamAcceptor::Open(int port)
{
    Close();
    reason_.clear();
    if (port < 1 || port > 65535) {
        reason_ = "port " + std::to_string(port) + " is outside 1..65535";
        TRACE_WARN("Port Web client %d is outside 1..65535: the stream server is off", port);
        return false;
    }
    if (!listener_.Listen(port, {}, kBacklog)) {
        const int error = errno;
        switch (listener_.FailedStep()) {
            case wicket::CListener::Step::kSocket:
                TRACE_WARN("Unable to create socket");
                TRACE_WARN_DETAIL();
                break;
            case wicket::CListener::Step::kListen:
                TRACE_WARN("error during listen.");
                break;
            default:
                TRACE_WARN("Unable to bind socket");
                TRACE_WARN_DETAIL();
                break;
        }
        reason_ = "port " + std::to_string(port) + ": " + ErrnoText(error);
        TRACE_WARN("Stream server off: cannot listen on port %d (%s)", port, ErrnoText(error).c_str());
        errno = error;
        return false;
    }
    shortage_ = false;
    capRefused_ = 0;
    refusedAll_ = 0;
    TRACE_TRACE("Vorlix listen on port: %d\n", listener_.Port());
    return true;
}

void StreamAcceptor::Close()
{
    listener_.Close();
}

void StreamAcceptor::NoteCapRefusal(const wicket::AcceptedPeer& peer, std::size_t cap)
{
    ++capRefused_;
    const auto now = StreamClock::now();
    if (capRefused_ == 1 || now - lastCapWarning_ >= kCapWarningEvery) {
        lastCapWarning_ = now;
        TRACE_WARN("Viewer limit of %d reached (\"Max clients\"): %s:%d refused, %ld refused so far",
                   static_cast<int>(cap), peer.address.c_str(), peer.port, capRefused_);
    }
}

void StreamAcceptor::NoteAdmitted()
{
    if (capRefused_ > 0) {
        TRACE_INFO("Viewers admitted again after %ld refused at the viewer limit", capRefused_);
        capRefused_ = 0;
    }
}

std::vector<wicket::AcceptedPeer> StreamAcceptor::AcceptWaiting(std::size_t clients, std::size_t maxClients,
                                                                Refusal refuse, const char* why)
{
    std::vector<wicket::AcceptedPeer> admitted;
    for (int round = 0; round < kMaxAcceptsPerPass && Listening(); ++round) {
        wicket::AcceptedPeer peer;
        const wicket::CListener::AcceptResult result = listener_.Accept(peer);
        if (result == wicket::CListener::AcceptResult::kNoneWaiting) {
            break;
        }
        if (result == wicket::CListener::AcceptResult::kOutOfDescriptors) {
            if (!shortage_) {
                shortage_ = true;
                shortagesAtStart_ = listener_.Shortages() - 1;
                TRACE_WARN("Out of descriptors (%s): new viewers on port %d are refused, accepting paused",
                           ErrnoText(errno).c_str(), Port());
            }
            break;
        }
        if (result == wicket::CListener::AcceptResult::kFailed) {
            TRACE_WARN("Error on (%d), accept failed", Fd());
            TRACE_WARN_DETAIL();
            break;
        }
        if (shortage_) {
            shortage_ = false;
            TRACE_INFO("Descriptors available again: %ld connections refused meanwhile",
                       listener_.Shortages() - shortagesAtStart_);
        }
        if (refuse == Refusal::kAll) {
            if (refusedAll_++ == 0) {
                TRACE_WARN("Viewer %s:%d refused: %s", peer.address.c_str(), peer.port, why);
            }
            continue;  // closed by the peer's destructor
        }
        if (clients + admitted.size() >= maxClients) {
            NoteCapRefusal(peer, maxClients);
            continue;
        }
        NoteAdmitted();
        admitted.push_back(std::move(peer));
    }
    return admitted;
}

}  // namespace vorlix

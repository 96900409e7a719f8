#include "client/reader/StreamReader.h"

#include <fcntl.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "libkestrel/trace/TraceLevels.h"
#include "libwicket/ServerConnect.h"
#include "libwicket/SockAvail.h"
#include "serveur/scrambler/PasswordScrambler.h"

namespace vorlix::client {

namespace {

// Largest piece of a refused frame thrown away per receive.
constexpr std::size_t kSkipPiece = std::size_t{64} * 1024;

bool WouldBlock(int error)
{
    return error == EAGAIN || error == EWOULDBLOCK;
}

// One receive that never waits: the count, 0 for an orderly close, -1 with
// errno set (EAGAIN when nothing is there yet).
ssize_t ReceiveNow(int socket, void* buffer, std::size_t size)
{
    ssize_t received = 0;
    do {
        received = ::recv(socket, buffer, size, MSG_DONTWAIT);
    } while (received < 0 && errno == EINTR);
    return received;
}

void SendLine(int socket, const std::string& line)
{
    // A peer that went away must not kill the viewer with SIGPIPE.
    static_cast<void>(::send(socket, line.data(), line.size(), MSG_NOSIGNAL));
}

int Milliseconds(std::chrono::steady_clock::duration d)
{
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
    return static_cast<int>(std::clamp<long long>(ms, 0, INT_MAX));
}

}  // namespace

kestrel::UniqueFd StreamReader::ConnectToServer(const std::string& host, int port)
{
    host_ = host;
    kestrel::UniqueFd fd(wicket::ServerConnect(host.c_str(), port, false, true));
    if (fd && fd.Get() == 0) {
        // Descriptor 0 (standard input was closed) would read as "not
        // connected": move the connection above the standard three.
        fd.Reset(::fcntl(fd.Get(), F_DUPFD_CLOEXEC, 3));
    }
    if (!fd) {
        TRACE_LEVEL(kestrel::kLevelUnclassified, "Connect KO (%s:%d)=%x", host.c_str(), port, ErrorLast());
        return fd;
    }
    ForgetConnection();
    awaitingPassword_ = true;
    TRACE_LEVEL(kestrel::kLevelUnclassified, "Connect Ok(%s:%d)", host.c_str(), port);
    return fd;
}

void StreamReader::ForgetConnection()
{
    carry_.clear();
    body_ = Body{};
    skipLeft_ = 0;
    challenge_ = 0;
}

void StreamReader::SendPasswordAnswer(int socket, std::string_view plain) const
{
    std::string scrambled;
    if (!ScramblePassword(plain, std::to_string(challenge_), scrambled)) {
        TRACE_LEVEL(kestrel::kLevelUnclassified, "password too long (%d)", static_cast<int>(plain.size()));
        return;
    }
    SendLine(socket, "Password: " + scrambled + "\r\n");
}

void StreamReader::SendHistoryRequest(int socket, std::string_view argument)
{
    SendLine(socket, "History: " + std::string(argument) + "\r\n");
}

int StreamReader::ReadFrame(int socket, std::vector<std::uint8_t>& frame, std::size_t capacity)
{
    const Clock::time_point end = Clock::now() + limits_.callBudget;
    if (skipLeft_ > 0) {
        if (!Skip(socket, end)) {
            return Lost();
        }
        if (skipLeft_ > 0) {
            return kReadNothing;
        }
    }
    if (body_.active) {
        return ContinueBody(socket, frame, end);
    }
    return ReadHeader(socket, frame, capacity, end);
}

int StreamReader::ReadHeader(int socket, std::vector<std::uint8_t>& frame, std::size_t capacity, Clock::time_point end)
{
    std::string window = std::move(carry_);
    carry_.clear();
    const bool whole = !window.empty() && [&] {
        const WindowScan::Kind kind = ScanWindow(window, awaitingPassword_).kind;
        return kind == WindowScan::Kind::kFrame || kind == WindowScan::Kind::kPasswordRequest;
    }();
    if (!whole && window.size() < kHeaderReadMax) {
        const int ready = wicket::SockAvailReadMs(socket, Milliseconds(end - Clock::now()));
        if (ready == 0 && window.empty()) {
            return kReadNothing;
        }
        if (ready != 0) {
            char buffer[kHeaderReadMax];
            const ssize_t received = ReceiveNow(socket, buffer, kHeaderReadMax - window.size());
            if (received == 0 || (received < 0 && !WouldBlock(errno))) {
                return Lost(false);
            }
            if (received > 0) {
                window.append(buffer, static_cast<std::size_t>(received));
            } else if (window.empty()) {
                return kReadNothing;
            }
        }
    }

    const WindowScan scan = ScanWindow(window, awaitingPassword_);
    switch (scan.kind) {
        case WindowScan::Kind::kPasswordRequest:
            challenge_ = scan.challenge;
            carry_ = window.substr(scan.next);
            return kReadPasswordRequest;
        case WindowScan::Kind::kNothing:
            // The frame trailer alone is expected between frames.
            if (window.size() != kTrailer.size()) {
                TRACE_LEVEL(kestrel::kLevelUnclassified, "no Content-Length ??? (%d)", static_cast<int>(window.size()));
            }
            // A window full of bytes that cannot start a header is dropped
            // whole, so the next read has room to find one.
            if (!(scan.next == 0 && window.size() >= kHeaderReadMax)) {
                carry_ = window.substr(scan.next);
            }
            return kReadNothing;
        case WindowScan::Kind::kCut:
            if (scan.next == 0 && window.size() >= kHeaderReadMax) {
                TRACE_LEVEL(kestrel::kLevelUnclassified, "frame header longer than %d bytes",
                            static_cast<int>(kHeaderReadMax));
            } else {
                carry_ = window.substr(scan.next);
            }
            return kReadNothing;
        case WindowScan::Kind::kFrame:
            break;
    }

    awaitingPassword_ = false;
    const long long length = scan.contentLength;
    const std::size_t inWindow = window.size() - scan.next;
    if (length > 0 && static_cast<unsigned long long>(length) > capacity) {
        TRACE_LEVEL(kestrel::kLevelUnclassified, "Content-Length too large (%d)",
                    static_cast<int>(std::min<long long>(length, INT_MAX)));
        // Thrown away as it arrives, so the next header is found at once.
        if (static_cast<unsigned long long>(length) <= inWindow) {
            carry_ = window.substr(scan.next + static_cast<std::size_t>(length));
        } else {
            skipLeft_ = static_cast<std::size_t>(length) - inWindow;
            skipLastByte_ = Clock::now();
        }
        return kReadNothing;
    }
    if (length <= 0) {
        TRACE_LEVEL(kestrel::kLevelUnclassified, "Content-Length invalid (%lld)", length);
        carry_ = window.substr(scan.next);
        return kReadNothing;
    }
    TRACE_LEVEL(kestrel::kLevelUnclassified, "Content-Length found (%d)", static_cast<int>(length));
    return StartBody(scan, window, socket, frame, end);
}

int StreamReader::StartBody(const WindowScan& scan, std::string_view window, int socket,
                            std::vector<std::uint8_t>& frame, Clock::time_point end)
{
    body_ = Body{};
    body_.active = true;
    body_.history = scan.history;
    body_.fields = scan.fields;
    body_.length = static_cast<std::size_t>(scan.contentLength);
    staging_.resize(body_.length);
    const std::size_t take = std::min(body_.length, window.size() - scan.next);
    std::memcpy(staging_.data(), window.data() + scan.next, take);
    carry_ = std::string(window.substr(scan.next + take));
    body_.filled = take;
    body_.fromFirstRead = take;
    body_.lastByte = Clock::now();
    return ContinueBody(socket, frame, end);
}

int StreamReader::ContinueBody(int socket, std::vector<std::uint8_t>& frame, Clock::time_point end)
{
    while (body_.filled < body_.length) {
        const ssize_t received = ReceiveNow(socket, staging_.data() + body_.filled, body_.length - body_.filled);
        if (received > 0) {
            body_.filled += static_cast<std::size_t>(received);
            body_.lastByte = Clock::now();
            continue;
        }
        if (received == 0 || !WouldBlock(errno)) {
            if (received == 0) {
                errno = ENOTCONN;  // the peer closed the connection
            }
            return Lost();
        }
        if (Clock::now() >= end) {
            return kReadNothing;
        }
        if (!WaitForBytes(socket, end, body_.lastByte)) {
            return Lost();
        }
    }
    return FinishBody(frame);
}

int StreamReader::FinishBody(std::vector<std::uint8_t>& frame)
{
    const int length = static_cast<int>(body_.length);
    TRACE_LEVEL(kestrel::kLevelUnclassified, "lu (icurr=%d, nsize=%d , nsize-j=%d)", static_cast<int>(body_.filled),
                length, length - static_cast<int>(body_.fromFirstRead));
    body_.active = false;
    if (!body_.history) {
        frame.swap(staging_);
        return length;
    }
    history_.swap(staging_);
    if (body_.fields.indiceLast) {
        indiceLast_ = *body_.fields.indiceLast;
    }
    if (body_.fields.modulo) {
        modulo_ = *body_.fields.modulo;
    }
    if (body_.fields.time) {
        time_ = body_.fields.time;
    }
    return -length;
}

bool StreamReader::Skip(int socket, Clock::time_point end)
{
    std::vector<std::uint8_t> piece(std::min(skipLeft_, kSkipPiece));
    while (skipLeft_ > 0) {
        const ssize_t received = ReceiveNow(socket, piece.data(), std::min(skipLeft_, piece.size()));
        if (received > 0) {
            skipLeft_ -= static_cast<std::size_t>(received);
            skipLastByte_ = Clock::now();
            if (skipLastByte_ >= end) {
                return true;  // the rest next time: a call stays short
            }
            continue;
        }
        if (received == 0 || !WouldBlock(errno)) {
            if (received == 0) {
                errno = ENOTCONN;
            }
            return false;
        }
        if (Clock::now() >= end) {
            return true;
        }
        if (!WaitForBytes(socket, end, skipLastByte_)) {
            return false;
        }
    }
    return true;
}

bool StreamReader::WaitForBytes(int socket, Clock::time_point end, Clock::time_point lastByte)
{
    const Clock::time_point now = Clock::now();
    const Clock::time_point silent = lastByte + limits_.bodySilence;
    if (now >= silent) {
        errno = ETIMEDOUT;
        return false;
    }
    const int ready = wicket::SockAvailReadMs(socket, Milliseconds(std::min(end, silent) - now));
    if (ready < 0) {
        return false;
    }
    if (ready == 0 && Clock::now() >= silent) {
        errno = ETIMEDOUT;
        return false;
    }
    return true;
}

int StreamReader::Lost(bool traced)
{
    if (traced) {
        TRACE_LEVEL(kestrel::kLevelUnclassified, "versserveur_read, unable to recv socket");
        const unsigned int code = ErrorLast();
        TRACE_LEVEL(kestrel::kLevelUnclassified, "      (%d,%s)", static_cast<int>(code), ErrorDescription(code));
    }
    carry_.clear();
    body_ = Body{};
    skipLeft_ = 0;
    return kReadLost;
}

}  // namespace vorlix::client

#include "serveur/stream/tests/StreamTestKit.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <jpeglib.h>

#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "libkestrel/testkit/Children.h"
#include "serveur/scrambler/PasswordScrambler.h"
#include "serveur/stream/StreamServer.h"

namespace vorlix::testkit {

TestCamera::TestCamera(std::string pictureDir) : dir_(std::move(pictureDir))
{
    settings_.port = kestrel::test::FreeLoopbackPort();
}

StreamSettings TestCamera::Settings() const
{
    const std::lock_guard<std::mutex> guard(lock_);
    return settings_;
}

int TestCamera::Shots() const
{
    const std::lock_guard<std::mutex> guard(lock_);
    return shots_;
}

int TestCamera::MaxJpg() const
{
    const std::lock_guard<std::mutex> guard(lock_);
    return maxJpg_;
}

void TestCamera::AddEventText(const std::string& text)
{
    const std::lock_guard<std::mutex> guard(lock_);
    events_.push_back(text);
}

void TestCamera::SetPort(int port)
{
    const std::lock_guard<std::mutex> guard(lock_);
    settings_.port = port;
}

void TestCamera::SetPassword(const std::string& password)
{
    const std::lock_guard<std::mutex> guard(lock_);
    settings_.password = password;
}

void TestCamera::SetPasswordUnreadable(bool unreadable)
{
    const std::lock_guard<std::mutex> guard(lock_);
    settings_.passwordUnreadable = unreadable;
}

void TestCamera::SetFrequency(int milliseconds)
{
    const std::lock_guard<std::mutex> guard(lock_);
    settings_.frequencyTransfert = milliseconds;
}

void TestCamera::SetMaxClients(int count)
{
    const std::lock_guard<std::mutex> guard(lock_);
    settings_.maxClients = count;
}

void TestCamera::SetShots(int shots, int maxJpg)
{
    const std::lock_guard<std::mutex> guard(lock_);
    shots_ = shots;
    maxJpg_ = maxJpg;
}

std::vector<std::string> TestCamera::EventTexts() const
{
    const std::lock_guard<std::mutex> guard(lock_);
    return events_;
}

int TestCamera::CountEvent(const std::string& text) const
{
    int n = 0;
    for (const std::string& t : EventTexts()) {
        n += t == text ? 1 : 0;
    }
    return n;
}

int StartOnFreePort(StreamServer& server, TestCamera& camera)
{
    int result = 0;
    for (int attempt = 0; attempt < 5; ++attempt) {
        result = server.StartStreamServer();
        if (result > 0 || server.OffReason().find("in use") == std::string::npos) {
            return result;
        }
        server.StopStreamServer();
        camera.SetPort(kestrel::test::FreeLoopbackPort());
    }
    return result;
}

std::string MakeJpeg(int width, int height, int seed)
{
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &out, &size);
    info.image_width = static_cast<JDIMENSION>(width);
    info.image_height = static_cast<JDIMENSION>(height);
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 85, TRUE);
    jpeg_start_compress(&info, TRUE);
    std::vector<unsigned char> row(static_cast<std::size_t>(width) * 3);
    while (info.next_scanline < info.image_height) {
        const int y = static_cast<int>(info.next_scanline);
        for (int x = 0; x < width; ++x) {
            row[static_cast<std::size_t>(x) * 3] = static_cast<unsigned char>((x * 255) / width);
            row[static_cast<std::size_t>(x) * 3 + 1] = static_cast<unsigned char>((y * 255) / height);
            row[static_cast<std::size_t>(x) * 3 + 2] = static_cast<unsigned char>(seed * 53);
        }
        JSAMPROW pointer = row.data();
        jpeg_write_scanlines(&info, &pointer, 1);
    }
    jpeg_finish_compress(&info);
    std::string bytes(reinterpret_cast<const char*>(out), size);
    // libjpeg's own buffer, given to us to free.
    std::free(out);  // NOLINT(cppcoreguidelines-no-malloc,cppcoreguidelines-owning-memory)
    jpeg_destroy_compress(&info);
    return bytes;
}

Viewer::Viewer(int port, int receiveBuffer, int localPort)
{
    fd_.Reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (receiveBuffer > 0) {
        ::setsockopt(fd_.Get(), SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (localPort > 0) {
        address.sin_port = htons(static_cast<std::uint16_t>(localPort));
        if (::bind(fd_.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            Close();
            return;
        }
    }
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::connect(fd_.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        Close();
    }
}

int Viewer::LocalPort() const
{
    sockaddr_in address{};
    socklen_t length = sizeof address;
    ::getsockname(fd_.Get(), reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

void Viewer::Close()
{
    fd_.Reset();
}

void Viewer::Reset()
{
    const linger reset{1, 0};
    ::setsockopt(fd_.Get(), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    Close();
}

void Viewer::Send(const std::string& bytes)
{
    ::send(fd_.Get(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
}

std::string Viewer::Answer(std::int32_t challenge, const std::string& password)
{
    std::string scrambled;
    ScramblePassword(password, std::to_string(challenge), scrambled);
    return "Password: " + scrambled + "\r\n";
}

bool Viewer::Fill(std::chrono::steady_clock::time_point deadline)
{
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (!fd_ || left.count() <= 0) {
        return false;
    }
    pollfd entry{fd_.Get(), POLLIN, 0};
    if (::poll(&entry, 1, static_cast<int>(left.count())) <= 0) {
        return false;
    }
    char chunk[65536];
    const ssize_t got = ::recv(fd_.Get(), chunk, sizeof chunk, 0);
    if (got <= 0) {
        return false;
    }
    buffered_.append(chunk, static_cast<std::size_t>(got));
    return true;
}

std::string Viewer::Read(std::size_t count, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (buffered_.size() < count && Fill(deadline)) {
    }
    const std::size_t n = std::min(count, buffered_.size());
    std::string out = buffered_.substr(0, n);
    buffered_.erase(0, n);
    return out;
}

std::optional<std::string> Viewer::ReadUntil(const std::string& marker, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::size_t at = std::string::npos;
    while ((at = buffered_.find(marker)) == std::string::npos) {
        if (!Fill(deadline)) {
            return std::nullopt;
        }
    }
    std::string out = buffered_.substr(0, at + marker.size());
    buffered_.erase(0, at + marker.size());
    return out;
}

bool Viewer::AnythingWithin(std::chrono::milliseconds limit)
{
    return !buffered_.empty() || Fill(std::chrono::steady_clock::now() + limit);
}

bool Viewer::ClosedWithin(std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (fd_) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd entry{fd_.Get(), POLLIN, 0};
        if (left.count() <= 0 || ::poll(&entry, 1, static_cast<int>(left.count())) <= 0) {
            return false;
        }
        char chunk[65536];
        if (::recv(fd_.Get(), chunk, sizeof chunk, 0) <= 0) {
            return true;
        }
    }
    return true;
}

std::optional<Viewer::Frame> Viewer::ReadFrame(std::chrono::milliseconds limit)
{
    const auto start = std::chrono::steady_clock::now();
    auto header = ReadUntil("\r\n\r\n", limit);
    if (!header) {
        return std::nullopt;
    }
    Frame frame;
    frame.header = *header;
    frame.history = header->find("Vorlix: History\r\n") != std::string::npos;
    const std::string field = HeaderField(*header, "Content-Length");
    long length = -1;
    if (std::from_chars(field.data(), field.data() + field.size(), length).ec != std::errc{} || length < 0) {
        return std::nullopt;
    }
    const auto left =
        limit - std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    frame.body = Read(static_cast<std::size_t>(length), left);
    if (frame.body.size() != static_cast<std::size_t>(length)) {
        return std::nullopt;
    }
    if (Read(2, 2s) != "\r\n") {
        return std::nullopt;
    }
    return frame;
}

bool Viewer::ReadHead()
{
    return Read(173) ==
           "HTTP/1.1 200 OK\r\nMax-Age: 0\r\nExpires: 0\r\nCache-Control: no-cache\r\nCache-Control: private\r\n"
           "Pragma: no-cache\r\nContent-type: multipart/x-mixed-replace;boundary=BoundaryString\r\n";
}

std::optional<std::int32_t> Viewer::ReadChallenge(std::chrono::milliseconds limit)
{
    auto line = ReadUntil("\r\n", limit);
    if (!line || line->rfind("AskPassword: ", 0) != 0) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(std::stol(line->substr(13)));
}

std::string HeaderField(const std::string& header, const std::string& name)
{
    const std::string key = "\r\n" + name + ": ";
    const std::size_t at = header.find(key);
    if (at == std::string::npos) {
        return {};
    }
    const std::size_t from = at + key.size();
    return header.substr(from, header.find("\r\n", from) - from);
}

int RunProgram(const std::vector<std::string>& argv, const std::string& outPath, const std::string& errPath,
               std::chrono::milliseconds limit)
{
    return kestrel::test::RunChild(argv, {.out = outPath, .err = errPath}, limit, true);
}

bool HaveProgram(const std::string& program)
{
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        dir += '/';
        dir += program;
        if (::access(dir.c_str(), X_OK) == 0) {
            return true;
        }
    }
    return false;
}

namespace {
int CountEntries(const std::string& dir)
{
    int count = 0;
    std::error_code ignored;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir, ignored)) {
        ++count;
    }
    return count;
}
}  // namespace

int OpenDescriptors()
{
    return CountEntries("/proc/self/fd");
}

int ThreadCount()
{
    return CountEntries("/proc/self/task");
}

}  // namespace vorlix::testkit

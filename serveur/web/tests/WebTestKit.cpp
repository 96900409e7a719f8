#include "serveur/web/tests/WebTestKit.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "libkestrel/framework/UniqueFd.h"
#include "libkestrel/testkit/Children.h"

namespace vorlix::web::test {

namespace {

// Starts `argv[0]` with its output in `out` and its errors beside it.
pid_t Spawn(const std::vector<std::string>& argv, const std::string& out)
{
    return kestrel::test::StartChild(argv, {.out = out, .err = out + ".err"});
}

using kestrel::test::ReapChild;

std::vector<std::string> CurlArgs(const std::string& body, const std::string& headers,
                                  const std::vector<std::string>& args)
{
    std::vector<std::string> argv{"/usr/bin/curl", "-s", "-S", "--noproxy", "*", "-o", body, "-D", headers};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

}  // namespace

CurlResult Curl(const std::vector<std::string>& args, std::chrono::milliseconds limit)
{
    TempDir dir("vorlix_web_curl");
    std::vector<std::string> argv = CurlArgs(dir.File("body"), dir.File("headers"), args);
    argv.insert(argv.begin() + 1, {"-w", "%{http_code}"});
    const auto start = std::chrono::steady_clock::now();
    CurlResult result;
    const pid_t pid = Spawn(argv, dir.File("code"));
    if (pid <= 0) {
        return result;
    }
    result.exit = ReapChild(pid, limit);
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    result.status = static_cast<int>(std::strtol(dir.Read("code").c_str(), nullptr, 10));
    result.body = dir.Read("body");
    result.headers = dir.Read("headers");
    return result;
}

CurlChild::CurlChild(const std::vector<std::string>& args)
{
    pid_ = Spawn(CurlArgs(dir_.File("body"), dir_.File("headers"), args), dir_.File("out"));
}

CurlChild::~CurlChild()
{
    if (pid_ > 0) {
        ReapChild(pid_, 0ms);
    }
}

std::string CurlChild::Finish(std::chrono::milliseconds limit)
{
    if (pid_ > 0) {
        exit_ = ReapChild(pid_, limit);
        pid_ = -1;
    }
    return dir_.Read("body");
}

bool CurlChild::Running()
{
    if (pid_ <= 0) {
        return false;
    }
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) != pid_) {
        return true;
    }
    exit_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    pid_ = -1;
    return false;
}

RawViewer::RawViewer(int port, const std::string& path, int receiveBuffer)
    : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
{
    if (!fd_) {
        return;
    }
    if (receiveBuffer > 0) {
        ::setsockopt(fd_.Get(), SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    const std::string request = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    connected_ =
        ::connect(fd_.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::send(fd_.Get(), request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size());
}

bool RawViewer::ReadFor(std::chrono::milliseconds time)
{
    const auto end = std::chrono::steady_clock::now() + time;
    char buffer[65536];
    while (fd_ && !closed_) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            break;
        }
        pollfd poll{fd_.Get(), POLLIN, 0};
        if (::poll(&poll, 1, static_cast<int>(left.count())) <= 0) {
            continue;
        }
        const ssize_t n = ::recv(fd_.Get(), buffer, sizeof buffer, MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
            closed_ = true;
        } else if (n > 0) {
            bytes_.append(buffer, static_cast<std::size_t>(n));
        }
    }
    return !closed_;
}

bool RawViewer::ClosedWithin(std::chrono::milliseconds limit)
{
    return WaitUntil([&] { return !ReadFor(20ms); }, limit, 1ms);
}

bool RawViewer::PartsWithin(std::size_t parts, std::chrono::milliseconds limit)
{
    return WaitUntil(
        [&] {
            ReadFor(20ms);
            return Parts().size() >= parts;
        },
        limit, 1ms);
}

std::vector<std::string> RawViewer::Parts() const
{
    const std::size_t body = bytes_.find("\r\n\r\n");
    return body == std::string::npos ? std::vector<std::string>{} : MjpegParts(bytes_.substr(body + 4));
}

std::vector<std::string> MjpegParts(const std::string& body)
{
    std::vector<std::string> parts;
    const std::string boundary = "--vorlixframe\r\n";
    std::size_t at = 0;
    while (body.compare(at, boundary.size(), boundary) == 0) {
        const std::size_t headEnd = body.find("\r\n\r\n", at);
        if (headEnd == std::string::npos) {
            break;
        }
        const std::string head = body.substr(at, headEnd - at);
        const std::size_t lengthAt = head.find("Content-Length: ");
        if (lengthAt == std::string::npos || head.find("Content-Type: image/jpeg") == std::string::npos) {
            break;
        }
        const std::size_t length = std::strtoul(head.c_str() + lengthAt + 16, nullptr, 10);
        const std::size_t bodyAt = headEnd + 4;
        if (bodyAt + length + 2 > body.size() || body.compare(bodyAt + length, 2, "\r\n") != 0) {
            break;
        }
        parts.push_back(body.substr(bodyAt, length));
        at = bodyAt + length + 2;
    }
    return parts;
}

bool LooksLikeJpeg(const std::string& bytes)
{
    return bytes.size() > 4 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
           static_cast<unsigned char>(bytes[1]) == 0xD8 &&
           static_cast<unsigned char>(bytes[bytes.size() - 2]) == 0xFF &&
           static_cast<unsigned char>(bytes[bytes.size() - 1]) == 0xD9;
}

std::vector<std::uint8_t> SquareFrame(int width, int height, int x)
{
    std::vector<std::uint8_t> frame(static_cast<std::size_t>(width) * height * 3, 60);
    const int side = height / 4;
    for (int row = height / 3; row < height / 3 + side; ++row) {
        for (int col = x; col < x + side && col < width; ++col) {
            std::uint8_t* p = frame.data() + (static_cast<std::size_t>(row) * width + col) * 3;
            p[0] = 250;
            p[1] = 220;
            p[2] = 40;
        }
    }
    return frame;
}

Feeder::Feeder(DetectionConsumer& consumer, int width, int height, int hz, bool moving)
{
    thread_ = std::thread([this, &consumer, width, height, hz, moving] {
        const auto interval = std::chrono::microseconds(1000000 / hz);
        auto next = std::chrono::steady_clock::now();
        std::vector<std::uint8_t> frame = SquareFrame(width, height, 0);
        while (!stop_.load()) {
            const int n = frames_.fetch_add(1);
            if (consumer.WantsLiveFrame()) {
                if (moving) {
                    frame = SquareFrame(width, height, (n * 4) % width);
                }
                FramePicture picture;
                picture.rgb = frame;
                picture.width = width;
                picture.height = height;
                consumer.OnLiveFrame(picture);
                offered_.fetch_add(1);
            }
            next += interval;
            std::this_thread::sleep_until(next);  // the camera's own pace
        }
    });
}

Feeder::~Feeder()
{
    stop_.store(true);
    thread_.join();
}

bool MakeCertificate(const std::string& dir, std::string& certificate, std::string& key)
{
    certificate = dir + "/cert.pem";
    key = dir + "/key.pem";
    const std::vector<std::string> argv{"/usr/bin/openssl",
                                        "req",
                                        "-x509",
                                        "-newkey",
                                        "ec",
                                        "-pkeyopt",
                                        "ec_paramgen_curve:prime256v1",
                                        "-nodes",
                                        "-days",
                                        "2",
                                        "-subj",
                                        "/CN=127.0.0.1",
                                        "-addext",
                                        "subjectAltName=IP:127.0.0.1",
                                        "-keyout",
                                        key,
                                        "-out",
                                        certificate};
    const pid_t pid = Spawn(argv, dir + "/openssl.out");
    return pid > 0 && ReapChild(pid, 20s) == 0;
}

}  // namespace vorlix::web::test

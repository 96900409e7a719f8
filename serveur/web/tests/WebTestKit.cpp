#include "serveur/web/tests/WebTestKit.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "libkestrel/framework/UniqueFd.h"

namespace vorlix::web::test {

namespace {

pid_t Spawn(const std::vector<std::string>& argv, const std::string& out)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    const std::string errors = out + ".err";
    posix_spawn_file_actions_addopen(&actions, 2, errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const std::string& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0].c_str(), &actions, nullptr, args.data(), environ) != 0) {
        pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// The exit status of `pid` once it ends within `limit`; -1 when it had to be killed.
int Reap(pid_t pid, std::chrono::milliseconds limit)
{
    int status = 0;
    bool ended = WaitUntil([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, limit, 5ms);
    if (!ended) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

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
    result.exit = Reap(pid, limit);
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
        Reap(pid_, 0ms);
    }
}

std::string CurlChild::Finish(std::chrono::milliseconds limit)
{
    if (pid_ > 0) {
        Reap(pid_, limit);
        pid_ = -1;
    }
    return dir_.Read("body");
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
    return pid > 0 && Reap(pid, 20s) == 0;
}

int Run(const std::vector<std::string>& argv, const std::string& out, std::chrono::milliseconds limit)
{
    const pid_t pid = Spawn(argv, out);
    return pid > 0 ? Reap(pid, limit) : -1;
}

int FreePort()
{
    kestrel::UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (!fd || ::bind(fd.Get(), reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        ::getsockname(fd.Get(), reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        return 0;
    }
    return ntohs(address.sin_port);
}

}  // namespace vorlix::web::test

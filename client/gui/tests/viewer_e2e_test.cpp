// The real server on its built-in test camera with a password, and the real
// viewer program (offscreen) whose INI holds the host and the scrambled
// password: it answers the challenge by itself, receives a live picture
// from the server, and its window shows that picture's pixels.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QImage>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <vector>

#include <jpeglib.h>

#include "libkestrel/framework/UniqueFd.h"
#include "libkestrel/profile/Profile.h"
#include "libkestrel/testkit/Children.h"
#include "libkestrel/testkit/TestKit.h"
#include "serveur/app/tests/ServerProcess.h"
#include "serveur/scrambler/PasswordScrambler.h"

namespace vorlix::client {
namespace {

namespace fs = std::filesystem;
namespace profile = kestrel::profile;
using namespace std::chrono_literals;
using kestrel::test::TempDir;
using kestrel::test::WaitUntil;
using vorlix::app::testing::ServerProcess;

bool Listening(int port)
{
    const kestrel::UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return fd && ::connect(fd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}

std::string Scrambled(const std::string& plain, const std::string& key)
{
    std::string scrambled;
    EXPECT_TRUE(ScramblePassword(plain, key, scrambled));
    return scrambled;
}

// libjpeg's own decoding of the bytes, as top-down RGB.
QImage Decode(const std::string& jpeg)
{
    jpeg_decompress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(jpeg.data()), static_cast<unsigned long>(jpeg.size()));
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    QImage image(static_cast<int>(info.output_width), static_cast<int>(info.output_height), QImage::Format_RGB888);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = image.scanLine(static_cast<int>(info.output_scanline));
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return image;
}

// Mean difference per channel between `picture` and the part of `shot` at (0, top).
double Difference(const QImage& shot, const QImage& picture, int top)
{
    double sum = 0;
    for (int y = 0; y < picture.height(); ++y) {
        const uchar* a = shot.constScanLine(top + y);
        const uchar* b = picture.constScanLine(y);
        for (int x = 0; x < picture.width() * 3; ++x) {
            sum += std::abs(a[x] - b[x]);
        }
    }
    return sum / (picture.width() * picture.height() * 3.0);
}

class ViewerEndToEndTest : public ::testing::Test {
protected:
    // Starts the server with `password` and writes the viewer's INI with
    // `savedPassword` for it.
    void StartServer(const std::string& password, const std::string& savedPassword)
    {
        const std::string serverIni = serverDir_.File("Vorlix.ini");
        ASSERT_TRUE(profile::WriteInt(serverIni, "Vorlix", "Client access", 1));
        ASSERT_TRUE(profile::WriteInt(serverIni, "Vorlix", "Port Web client", port_));
        ASSERT_TRUE(profile::WriteString(serverIni, "Vorlix", "Authentification client",
                                         Scrambled(password, "Authentification client")));
        server_ = std::make_unique<ServerProcess>(VORLIX_PROGRAM, serverDir_.Path(),
                                                  std::vector<std::string>{"--headless", "0"});
        ASSERT_TRUE(server_->Started());
        ASSERT_TRUE(WaitUntil([&] { return Listening(port_); }, 10s)) << server_->Stderr();

        const std::string viewerIni = viewerDir_.File("Vorlix.ini");
        ASSERT_TRUE(profile::WriteString(viewerIni, "cl", "Host 1", "127.0.0.1"));
        ASSERT_TRUE(profile::WriteInt(viewerIni, "cl", "Port 1", port_));
        ASSERT_TRUE(profile::WriteString(viewerIni, "cl", "Password 1", Scrambled(savedPassword, "Password 1")));
        ASSERT_TRUE(profile::WriteInt(viewerIni, "cl", "Stretch", 0));
        // The suite runner sets both; a direct run gets its own.
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        if (std::getenv("XDG_RUNTIME_DIR") == nullptr) {
            ::chmod(viewerDir_.Path().c_str(), 0700);
            ::setenv("XDG_RUNTIME_DIR", viewerDir_.Path().c_str(), 1);
        }
    }
    std::unique_ptr<ServerProcess> StartViewer()
    {
        return std::make_unique<ServerProcess>(VIEWER_PROGRAM, viewerDir_.Path(),
                                               std::vector<std::string>{"--verbose", "--snapshot", Snapshot()});
    }
    [[nodiscard]] std::string Snapshot() const { return viewerDir_.File("window.png"); }

    TempDir serverDir_{"vorlix_viewer_e2e_server"};
    TempDir viewerDir_{"vorlix_viewer_e2e_viewer"};
    int port_ = kestrel::test::FreeLoopbackPort();
    std::unique_ptr<ServerProcess> server_;
};

TEST_F(ViewerEndToEndTest, ViewerAnswersThePasswordRequestAndShowsTheServersPicture)
{
    StartServer("camera pw", "camera pw");
    const auto viewer = StartViewer();
    ASSERT_TRUE(viewer->Started());
    ASSERT_EQ(viewer->WaitExit(30s), 0) << viewer->Stderr() << server_->Stderr();

    const std::string log = viewer->Stderr();
    EXPECT_NE(log.find("Connect Ok(127.0.0.1:" + std::to_string(port_) + ")"), std::string::npos) << log;
    EXPECT_NE(log.find("saved password sent"), std::string::npos) << log;
    EXPECT_EQ(log.find("asking the user"), std::string::npos) << log;
    EXPECT_NE(log.find("Content-Length found"), std::string::npos) << log;
    EXPECT_EQ(log.find("error during access jpg file"), std::string::npos) << log;

    // The picture is one the server wrote.
    const std::string snapshot = Snapshot();
    const std::string jpeg = kestrel::test::ReadFile(snapshot + ".jpg");
    ASSERT_GT(jpeg.size(), 100U);
    bool fromServer = false;
    for (const auto& entry : fs::directory_iterator(serverDir_.File("files"))) {
        fromServer = fromServer || kestrel::test::ReadFile(entry.path().string()) == jpeg;
    }
    EXPECT_TRUE(fromServer);

    // The window shows its pixels at their own size under the menu bar.
    const QImage picture = Decode(jpeg);
    const QImage shot = QImage(QString::fromStdString(snapshot)).convertToFormat(QImage::Format_RGB888);
    ASSERT_FALSE(shot.isNull());
    ASSERT_GE(shot.width(), picture.width());
    double best = 255;
    for (int top = 0; top + picture.height() <= shot.height() && top <= 80; ++top) {
        best = std::min(best, Difference(shot, picture, top));
    }
    EXPECT_LT(best, 1.0);
    // A picture that is not the one received does not pass for it.
    EXPECT_GT(Difference(shot, picture.mirrored(true, true), shot.height() - picture.height()), 5.0);
}

TEST_F(ViewerEndToEndTest, WrongSavedPasswordGetsNoPictureAndAsksTheUser)
{
    StartServer("camera pw", "not the one");
    const auto viewer = StartViewer();
    ASSERT_TRUE(viewer->Started());
    // The server asks again; the viewer then opens its password dialog.
    ASSERT_TRUE(WaitUntil([&] { return viewer->Stderr().find("asking the user") != std::string::npos; }, 10s))
        << viewer->Stderr();
    const std::string log = viewer->Stderr();
    EXPECT_NE(log.find("saved password sent"), std::string::npos);
    EXPECT_EQ(log.find("Content-Length found"), std::string::npos) << log;
    EXPECT_TRUE(viewer->Running());
    EXPECT_FALSE(fs::exists(Snapshot()));
}

}  // namespace
}  // namespace vorlix::client

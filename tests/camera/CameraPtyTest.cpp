// CCamera against a peer on a pseudo-terminal: real serial I/O end to end.
#include "CameraFixture.h"

#include "SerialPort.h"
#include "SettingsStore.h"
#include "common/PtyPair.h"

#include <QDir>
#include <QFile>
#include <QProcess>

#include <memory>
#include <thread>
#include <unistd.h>

namespace {

const int portNumber = 7;

class CameraPtyTest : public ::testing::Test {
protected:
    void SetUp() override {
        QFile::remove(SettingsStore::filePath());
        SerialLink::setPort(nullptr);
        SerialLink::setClock(nullptr);
        QDir().mkpath(QString::fromStdString(serialPortsFolder()));
        link = serialPortsFolder() + "/COM" + std::to_string(portNumber);
        ::unlink(link.c_str());
        ASSERT_EQ(::symlink(pty.slavePath().c_str(), link.c_str()), 0);
        for (auto [key, v] : {std::pair{"prm2", portNumber}, {"img_w", 4}, {"img_h", 3}})
            SettingsStore::writeInt("AcqPrm", key, v);
    }
    void TearDown() override {
        camera.reset(); // closes the port
        ::unlink(link.c_str());
    }

    // Runs acquerir while the peer reads `request` bytes and answers with `samples`.
    int acquire(std::size_t request, const Bytes& samples, unsigned short* px,
                Bytes* seen = nullptr) {
        Bytes got;
        std::thread peer([&] {
            got = pty.receiveExactly(request, 5000);
            if (got.size() == request)
                pty.send(samples);
        });
        const int r = camera->acquerir(px);
        peer.join();
        EXPECT_EQ(got.size(), request);
        if (seen)
            *seen = got;
        return r;
    }

    PtyPair pty;
    std::string link;
    std::unique_ptr<CCamera> camera = std::make_unique<CCamera>();
};

} // namespace

TEST_F(CameraPtyTest, SettingsThenImagesWithDarkCaptureAndSubtraction) {
    EXPECT_EQ(showParameters(*camera), 2);
    camera->reglage();
    const Bytes upload = pty.receiveExactly(40 + 235, 5000);
    ASSERT_EQ(upload.size(), 275u);
    EXPECT_EQ(Bytes(upload.begin(), upload.begin() + 5), (Bytes{0xFF, 0x00, 0xFF, 0x00, 0xFF}));
    const Bytes geometry = {0x31, 0x00, 0x04, 0x00, 0x03};
    EXPECT_NE(std::search(upload.begin(), upload.end(), geometry.begin(), geometry.end()),
              upload.end());

    const Bytes samples = {0, 1, 2, 3, 10, 20, 30, 40, 100, 200, 254, 255};
    unsigned short px[12] = {};
    Bytes request;
    ASSERT_EQ(acquire(35, samples, px, &request), 0);
    EXPECT_EQ(Bytes(request.end() - 5, request.end()), (Bytes{0x10, 0x00, 0x00, 0x00, 0xFF}));
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(px[i], samples[std::size_t(i)] * 128) << i;
    EXPECT_GT(camera->acqTime, 0);

    // Subtract the dark just taken; the dialog's start-up frames lead the request.
    SettingsStore::writeInt("AcqPrm", "option4", 0);
    showParameters(*camera);
    ASSERT_EQ(acquire(40 + 35, samples, px), 0);
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(px[i], 0) << i;

    Bytes lower = samples;
    lower[5] = 19; // below the dark: 1
    lower[11] = 0; // far below: 1
    lower[0] = 9;  // above: the difference
    ASSERT_EQ(acquire(35, lower, px), 0);
    EXPECT_EQ(px[5], 1);
    EXPECT_EQ(px[11], 1);
    EXPECT_EQ(px[0], 9 * 128);
    EXPECT_EQ(px[1], 0);
}

TEST_F(CameraPtyTest, BytesLeftInThePortDoNotShiftTheNextImage) {
    showParameters(*camera);
    camera->reglage();
    ASSERT_EQ(pty.receiveExactly(275, 5000).size(), 275u);
    // Surplus of an earlier transfer, waiting in the port when the request goes out.
    pty.send(Bytes{9, 9, 9, 9, 9});
    ::usleep(50000);
    const Bytes samples = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    unsigned short px[12] = {};
    ASSERT_EQ(acquire(35, samples, px), 0);
    EXPECT_EQ(px[0], 128);
    EXPECT_EQ(px[11], 12 * 128);
}

TEST_F(CameraPtyTest, BinnedFullWidthLinesOverTheLine) {
    SettingsStore::writeInt("AcqPrm", "binning", 2);
    SettingsStore::writeInt("AcqPrm", "img_w", 640);
    SettingsStore::writeInt("AcqPrm", "img_h", 2);
    showParameters(*camera);
    camera->reglage();
    ASSERT_EQ(pty.receiveExactly(275, 5000).size(), 275u);
    Bytes samples(640 * 2 * 2);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<unsigned char>(i % 200);
    std::vector<unsigned short> px(640 * 2);
    ASSERT_EQ(acquire(35, samples, px.data()), 0);
    for (std::size_t i = 0; i < px.size(); ++i) {
        const unsigned s = samples[2 * i] + samples[2 * i + 1];
        ASSERT_EQ(px[i], std::min(s, 255u) * 128) << i;
    }
}

TEST(CameraExit, StaticCameraClosesItsPortLastWithTheWaitAndThePurge) {
    PtyPair pty;
    QDir().mkpath(QString::fromStdString(serialPortsFolder()));
    const std::string link = serialPortsFolder() + "/COM9";
    ::unlink(link.c_str());
    ASSERT_EQ(::symlink(pty.slavePath().c_str(), link.c_str()), 0);
    QProcess probe;
    probe.start(QStringLiteral(CAMERA_EXIT_PROBE), {QStringLiteral("9")});
    ASSERT_TRUE(probe.waitForFinished(30000));
    ::unlink(link.c_str());
    EXPECT_EQ(probe.exitCode(), 0);
    const QStringList lines =
        QString::fromUtf8(probe.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3) << lines.join(' ').toStdString();
    EXPECT_EQ(lines[0], "open");
    ASSERT_TRUE(lines[1].startsWith("purge ")) << lines[1].toStdString();
    EXPECT_GE(lines[1].mid(6).toInt(), 100); // the close delay came first
    EXPECT_EQ(lines[2], "close");
}

#include "CameraFixture.h"

#include "CameraEvents.h"
#include "CameraProtocol.h"
#include "SettingsStore.h"

#include <QFile>
#include <QMessageBox>

#include <map>
#include <memory>

namespace {

const char* const section = "AcqPrm";

// Bytes of one image request, after which the camera sends its samples.
const std::size_t requestBytes = 35;
const std::size_t startUpBytes = 40;
const std::size_t settingsBytes = 235;

} // namespace

class CCameraTest : public LinkFixture {
protected:
    // Cameras are large (the dark frame): keep them off the stack.
    std::unique_ptr<CCamera> camera = std::make_unique<CCamera>();

    void store(std::initializer_list<std::pair<const char*, int>> values) {
        for (const auto& [key, v] : values)
            SettingsStore::writeInt(section, key, v);
    }
    // Answers the next image request with these samples.
    void answer(const Bytes& samples) { port.reply = {samples}; }
};

TEST_F(CCameraTest, ConstructionTouchesNothingAndDefaultsStandIn) {
    EXPECT_TRUE(port.openedPaths.empty());
    EXPECT_TRUE(port.written.empty());
    EXPECT_FALSE(QFile::exists(SettingsStore::filePath()));
    EXPECT_EQ(camera->getWidth(), 1280);
    EXPECT_EQ(camera->getHeight(), 1024);
    EXPECT_EQ(camera->getBinning(), 1);
    EXPECT_EQ(camera->getOriginX(), 0);
    EXPECT_EQ(camera->getOriginY(), 0);
    EXPECT_EQ(camera->getPauseEnSecondes(), 1.0f);
    EXPECT_EQ(camera->acqTime, 0);
}

TEST_F(CCameraTest, PauseRoundTrip) {
    struct Case {
        float set;
        int seconds, hundredths;
        float back;
    };
    const Case cases[] = {
        {0.1f, 0, 10, 0.1f},    {2.35f, 2, 34, 2.34f}, // 2.35f lies just below 2.35
        {1.0f, 1, 0, 1.0f},     {0.0f, 0, 0, 0.0f},
        {0.07f, 0, 7, 0.07f},   {3600.99f, 3600, 98, 3600.98f},
        {12.5f, 12, 50, 12.5f},
    };
    for (const Case& c : cases) {
        camera->setPause(c.set);
        EXPECT_EQ(camera->parameters().pause_s, c.seconds) << c.set;
        EXPECT_EQ(camera->parameters().pause_cs, c.hundredths) << c.set;
        EXPECT_EQ(camera->getPauseEnSecondes(), c.back) << c.set;
    }
    EXPECT_TRUE(port.written.empty()) << "only the record changes";
}

TEST_F(CCameraTest, InitTwiceOpensOnceAndQueuesStartUpEachTime) {
    camera->init();
    camera->init();
    ASSERT_EQ(port.openedPaths.size(), 1u);
    EXPECT_EQ(port.openedPaths[0], serialPortPath(2)) << "port 2 when the store has none";
    EXPECT_TRUE(port.written.empty());
    EXPECT_EQ(camera->reglage(), 0);
    EXPECT_EQ(port.written.size(), 2 * startUpBytes + settingsBytes);
}

TEST_F(CCameraTest, InitTakesPortAndTimeBaseFromTheStore) {
    store({{"prm2", 5}, {"bdt", 45}});
    camera->init();
    ASSERT_EQ(port.openedPaths.size(), 1u);
    EXPECT_EQ(port.openedPaths[0], serialPortPath(5));
    EXPECT_EQ(camera_protocol::timeBase(), 45);
    port.written.clear();
    camera->reglage();
    // 1 s at time base 45: 135 ticks.
    int residualLow = -1;
    for (const Bytes& f : port.frames())
        if (f[0] == 0x66 && f[1] == 0x4F)
            residualLow = f[2];
    EXPECT_EQ(residualLow, 135);
}

TEST_F(CCameraTest, HeadlessHostGivesTheRecordAndTheDevicePath) {
    AcqPrm prm;
    prm.prm2 = 5;
    prm.bdt = 45;
    prm.img_w = 100;
    camera->setParameters(prm);
    link().setPortPath("/dev/serial/by-id/usb-camera");
    camera->initFromParameters();
    link().setPortPath({});
    ASSERT_EQ(port.openedPaths.size(), 1u);
    EXPECT_EQ(port.openedPaths[0], "/dev/serial/by-id/usb-camera") << "the path, not COM5";
    EXPECT_EQ(camera_protocol::timeBase(), 45);
    EXPECT_EQ(camera->getWidth(), 100);
    camera->reglage();
    EXPECT_EQ(port.written.size(), startUpBytes + settingsBytes);
    EXPECT_FALSE(QFile::exists(SettingsStore::filePath()))
        << "the store is neither read nor written";
}

TEST_F(CCameraTest, DarkCaptureThenSubtraction) {
    store({{"img_w", 4}, {"img_h", 1}});
    showParameters(*camera);
    camera->init();
    ASSERT_EQ(camera->getWidth(), 4);
    unsigned short px[4];

    // Before any dark the image is left as it came.
    store({{"option4", 0}});
    showParameters(*camera);
    answer({10, 20, 30, 40});
    ASSERT_EQ(camera->acquerir(px), 0);
    EXPECT_EQ(std::vector<unsigned short>(px, px + 4),
              (std::vector<unsigned short>{1280, 2560, 3840, 5120}));

    // Raw image kept as the dark frame.
    store({{"option4", 1}});
    showParameters(*camera);
    answer({10, 20, 30, 40});
    ASSERT_EQ(camera->acquerir(px), 0);
    EXPECT_EQ(px[3], 5120);

    // Equal gives 0, dark above gives 1, below subtracts.
    store({{"option4", 0}});
    showParameters(*camera);
    answer({10, 19, 31, 255});
    ASSERT_EQ(camera->acquerir(px), 0);
    EXPECT_EQ(std::vector<unsigned short>(px, px + 4),
              (std::vector<unsigned short>{0, 1, 128, 32640 - 5120}));

    // A new window uses the dark as a flat array: pixel i meets entry i.
    store({{"img_w", 2}, {"img_h", 3}});
    showParameters(*camera);
    answer({10, 20, 30, 40, 50, 60});
    unsigned short six[6];
    ASSERT_EQ(camera->acquerir(six), 0);
    EXPECT_EQ(std::vector<unsigned short>(six, six + 6),
              (std::vector<unsigned short>{0, 0, 0, 0, 50 * 128, 60 * 128}));
}

TEST_F(CCameraTest, ImageCarriesTheTimeOfItsRequest) {
    store({{"img_w", 2}, {"img_h", 1}});
    showParameters(*camera);
    camera->init();
    clock.set(1700000000);
    answer({1, 2});
    unsigned short px[2];
    ASSERT_EQ(camera->acquerir(px), 0);
    EXPECT_EQ(camera->acqTime, 1700000000);
}

TEST_F(CCameraTest, FailedReadoutsAreReportedAndTheCameraRestarted) {
    struct Case {
        const char* name;
        std::function<void(ScriptedPort&, ManualClock&)> script;
        std::vector<QString> messages;
    };
    const QString lecture = QStringLiteral("Erreur lecture image");
    const Case cases[] = {
        {"read fails", [](ScriptedPort& p, ManualClock&) { p.readFails = true; }, {lecture}},
        {"line hangs up", [](ScriptedPort& p, ManualClock&) { p.hangupWhenDry = true; }, {lecture}},
        {"no data within the limit",
         [](ScriptedPort& p, ManualClock& c) {
             p.clock = &c;
             p.secondsPerRead = 10;
         },
         {QStringLiteral("Erreur USB image, enlever la prise USB et l'alimentation et faire OK"),
          lecture}},
        {"request cannot be written",
         [](ScriptedPort& p, ManualClock& c) {
             c.setStep(1);
             p.writeAccepts.assign(50, 0);
             p.writableWait = SerialPort::Wait::Timeout;
         },
         {QStringLiteral("Erreur USB param, enlever la prise USB et OK"), lecture}},
    };
    store({{"img_w", 2}, {"img_h", 1}, {"prm2", 6}, {"bdt", 70}});
    showParameters(*camera);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPort p;
        ManualClock clk{1000};
        SerialLink::setPort(&p);
        SerialLink::setClock(&clk);
        camera->init();
        link().flushQueue();
        c.script(p, clk);
        unsigned short px[2] = {7, 7};
        ModalWatcher watcher;
        EXPECT_EQ(camera->acquerir(px), 2);
        EXPECT_EQ(watcher.messages(), c.messages);
        for (const auto& s : watcher.seen()) {
            EXPECT_EQ(s.title, QStringLiteral("Kovrel"));
            EXPECT_EQ(s.icon, int(QMessageBox::Critical));
        }
        // Reopened with the record's port and time base, start-up queued.
        EXPECT_TRUE(p.isOpen());
        EXPECT_EQ(p.openedPaths.size(), 2u);
        EXPECT_EQ(p.openedPaths.back(), serialPortPath(6));
        EXPECT_EQ(camera_protocol::timeBase(), 70);
        EXPECT_EQ(link().queuedBytes(), startUpBytes);
        SerialLink::setPort(&port);
        SerialLink::setClock(&clock);
    }
}

TEST_F(CCameraTest, FailedReadoutLeavesTheDarkAlone) {
    store({{"img_w", 2}, {"img_h", 1}});
    showParameters(*camera);
    camera->init();
    unsigned short px[2];
    answer({5, 6});
    ASSERT_EQ(camera->acquerir(px), 0); // dark = 640, 768
    port.readFails = true;
    {
        ModalWatcher watcher;
        EXPECT_EQ(camera->acquerir(px), 2);
    }
    port.readFails = false;
    store({{"option4", 0}});
    showParameters(*camera);
    answer({5, 7});
    ASSERT_EQ(camera->acquerir(px), 0);
    EXPECT_EQ(px[0], 0);
    EXPECT_EQ(px[1], 128);
}

TEST_F(CCameraTest, WindowBeyondTheSensorIsRefused) {
    struct Case {
        int w, h, binning;
        int x0 = 0, y0 = 0;
        const char* message = "Taille non valide";
    };
    // A hand-edited origin that puts the window past the sensor is refused
    // too, as the dialog refuses it, rather than sent to the camera.
    const Case cases[] = {{1281, 1, 1},
                          {1, 1025, 1},
                          {641, 10, 2},
                          {10, 342, 3},
                          {0, 10, 1},
                          {10, 10, 0},
                          {10, 10, 5},
                          {1000, 10, 1, 300, 0, "Origine non valide"},
                          {10, 10, 2, 0, 507, "Origine non valide"}};
    camera->init();
    link().flushQueue();
    for (const Case& c : cases) {
        store({{"img_w", c.w},
               {"img_h", c.h},
               {"binning", c.binning},
               {"img_x0", c.x0},
               {"img_y0", c.y0}});
        showParameters(*camera);
        port.written.clear();
        ModalWatcher watcher;
        std::vector<unsigned short> px(16, 0);
        EXPECT_EQ(camera->acquerir(px.data()), 2);
        EXPECT_EQ(watcher.messages(), std::vector<QString>{QString::fromUtf8(c.message)});
        EXPECT_TRUE(port.written.size() <= startUpBytes) << "no image request";
    }
}

TEST_F(CCameraTest, MessagesBelongToTheMainWindow) {
    QWidget frame;
    frame.setObjectName(QStringLiteral("CMainFrame"));
    frame.show();
    store({{"img_w", 2}, {"img_h", 1}});
    showParameters(*camera);
    camera->init();
    port.readFails = true;
    ModalWatcher watcher;
    unsigned short px[2];
    EXPECT_EQ(camera->acquerir(px), 2);
    ASSERT_EQ(watcher.seen().size(), 1u);
    EXPECT_EQ(watcher.seen()[0].owner, &frame);
}

TEST_F(CCameraTest, MovesAndDestructionReachThePort) {
    camera->init();
    link().flushQueue();
    port.written.clear();
    camera->deplacement(3, -2);
    EXPECT_EQ(port.frames(), (std::vector<Bytes>{{0x30, 0, 0x41, 0, 3}, {0x30, 0, 0x48, 0, 3}}));
    camera.reset();
    EXPECT_FALSE(port.isOpen());
    EXPECT_EQ(port.closes, 1);
}

TEST_F(CCameraTest, CopiesOwnTheirRecordAndDark) {
    store({{"img_w", 2}, {"img_h", 1}});
    showParameters(*camera);
    camera->init();
    unsigned short px[2];
    answer({3, 4});
    ASSERT_EQ(camera->acquerir(px), 0);
    auto copy = std::make_unique<CCamera>(*camera);
    camera->setPause(7.0f);
    EXPECT_EQ(copy->getPauseEnSecondes(), 1.0f);
    EXPECT_EQ(copy->getWidth(), 2);
    EXPECT_EQ(copy->acqTime, camera->acqTime);
    // The copy's dark is the image taken before the copy.
    store({{"option4", 0}});
    showParameters(*copy);
    answer({3, 5});
    ASSERT_EQ(copy->acquerir(px), 0);
    EXPECT_EQ(px[0], 0);
    EXPECT_EQ(px[1], 128);
    // Assignment too.
    auto third = std::make_unique<CCamera>();
    *third = *copy;
    EXPECT_EQ(third->parameters().option4, 0);
    copy.reset();
    third.reset();
}

TEST_F(CCameraTest, HostHooksReceiveProgressAndMessagesInsteadOfBoxes) {
    store({{"img_w", 4}, {"img_h", 1}, {"pause_s", 3}, {"pause_cs", 0}});
    showParameters(*camera);
    camera->init();
    std::vector<kovrel::Progress> reports;
    kovrel::setProgressCallback([&](const kovrel::Progress& p) { reports.push_back(p); });
    // One empty read (the camera still exposing), then the samples in two chunks.
    port.reply = {Bytes{}, Bytes{1, 2}, Bytes{3, 4}};
    unsigned short px[4];
    ASSERT_EQ(camera->acquerir(px), 0);
    kovrel::setProgressCallback(nullptr);

    ASSERT_GE(reports.size(), 3u);
    EXPECT_EQ(reports.front().stage, kovrel::Progress::Stage::ExposureStarted);
    EXPECT_DOUBLE_EQ(reports.front().exposureSeconds, 3.0);
    EXPECT_EQ(reports.front().expected, 4);
    EXPECT_EQ(reports.back().stage, kovrel::Progress::Stage::Transfer);
    EXPECT_EQ(reports.back().received, 4);
    for (std::size_t i = 1; i < reports.size(); ++i)
        EXPECT_GE(reports[i].received, reports[i - 1].received);
    EXPECT_EQ(std::vector<unsigned short>(px, px + 4),
              (std::vector<unsigned short>{128, 256, 384, 512}));

    // Messages go to the sink; no box is shown.
    std::vector<QString> sunk;
    kovrel::setMessageSink([&](const QString& text) { sunk.push_back(text); });
    port.readFails = true;
    ModalWatcher watcher;
    EXPECT_EQ(camera->acquerir(px), 2);
    kovrel::setMessageSink(nullptr);
    EXPECT_EQ(sunk, std::vector<QString>{QStringLiteral("Erreur lecture image")});
    EXPECT_TRUE(watcher.messages().empty());
}

TEST_F(CCameraTest, ValuesTheDialogWouldRefuseAreBroughtIntoItsRangesBeforeUpload) {
    struct Case {
        const char* key;
        int stored;
        int inRecord;
    };
    const Case cases[] = {
        {"pause_s", -5, 0}, {"pause_s", 4000, 3600},  {"pause_cs", -3, 0}, {"pause_cs", 250, 99},
        {"prm1", 64, 63},   {"prm1", -1, 0},          {"prm3", 32, 31},    {"C", -1, 0},
        {"Y2", 99, 31},     {"Y1", 40, 31},           {"M", -7, 0},        {"bdt", -1, 90},
        {"bdt", 0, 90},     {"bdt", 2147483647, 819}, {"bdt", 819, 819},   {"pause_cs", 99, 99},
        {"img_x0", -5, 0},  {"img_y0", 5000, 4096},
    };
    for (const Case& c : cases) {
        QFile::remove(SettingsStore::filePath());
        store({{c.key, c.stored}});
        showParameters(*camera); // Cancel: the loaded values stay in force
        std::map<std::string, int> record;
        camera->parameters().save([&](const char* key, int v) { record[key] = v; });
        EXPECT_EQ(record[c.key], c.inRecord) << c.key << " " << c.stored;
        EXPECT_EQ(SettingsStore::getInt(section, c.key, 12345), c.stored)
            << "the store is untouched";
    }
    // The time base the exposure arithmetic uses, whichever way it comes in.
    for (auto [stored, used] : {std::pair{-1, 90}, {0, 90}, {2147483647, 819}, {45, 45}}) {
        store({{"bdt", stored}});
        camera->init();
        EXPECT_EQ(camera_protocol::timeBase(), used) << stored;
    }
}

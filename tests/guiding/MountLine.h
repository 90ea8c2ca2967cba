#pragma once

#include "CCamera.h"
#include "SerialPort.h"
#include "SettingsStore.h"
#include "common/PtyPair.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

using Bytes = std::vector<unsigned char>;

// The mount-move frames the camera sends for deplacement(x, y): one 5-byte
// frame per moving axis, a negative amount v going out as 1 - v backwards.
inline Bytes moveFrames(int x, int y) {
    Bytes out;
    auto frame = [&out](std::uint8_t direction, std::int64_t magnitude) {
        const auto m = static_cast<std::uint32_t>(magnitude);
        out.insert(out.end(), {0x30, 0x00, direction, std::uint8_t(m >> 8), std::uint8_t(m)});
    };
    if (x > 0)
        frame(0x41, x);
    else if (x < 0)
        frame(0x42, 1 - std::int64_t(x));
    if (y > 0)
        frame(0x44, y);
    else if (y < 0)
        frame(0x48, 1 - std::int64_t(y));
    return out;
}

// A camera whose port is a pseudo-terminal linked as its default port, with an
// empty settings store. The test reads on the other side what the camera sends.
class MountLineFixture : public ::testing::Test {
protected:
    void SetUp() override {
        QFile::remove(SettingsStore::filePath());
        const QString folder = QString::fromStdString(serialPortsFolder());
        QDir().mkpath(folder);
        link = folder + QStringLiteral("/COM2");
        QFile::remove(link);
        ASSERT_TRUE(QFile::link(QString::fromStdString(pty.slavePath()), link));
        camera = std::make_unique<CCamera>();
        camera->init();
        // The start-up frames queued by init leave with the first write.
        camera->deplacement(0, 0);
        ASSERT_EQ(pty.receiveExactly(40, 2000).size(), 40u) << "the camera must reach the line";
        ASSERT_TRUE(sent().empty());
    }
    void TearDown() override {
        camera.reset(); // closes the port
        QFile::remove(link);
        QFile::remove(SettingsStore::filePath());
    }
    // Everything the camera has written since the last call.
    Bytes sent() {
        Bytes all;
        for (;;) {
            Bytes chunk = pty.receive(256, 30);
            if (chunk.empty())
                return all;
            all.insert(all.end(), chunk.begin(), chunk.end());
        }
    }
    static void writeSuiviPrm(std::initializer_list<std::pair<const char*, int>> values) {
        for (const auto& [key, value] : values)
            SettingsStore::writeInt("SuiviPrm", key, value);
    }

    PtyPair pty;
    QString link;
    std::unique_ptr<CCamera> camera;
};

#pragma once

#include "ScriptedPort.h"

#include "Clock.h"
#include "SerialLink.h"
#include "SettingsStore.h"
#include "common/ModalWatcher.h"

#include <QFile>
#include <gtest/gtest.h>

// Puts a scripted port and a hand-set clock behind the link for one test.
class LinkFixture : public ::testing::Test {
protected:
    void SetUp() override {
        // Every test starts from an empty store.
        QFile::remove(SettingsStore::filePath());
        SerialLink::setPort(&port);
        SerialLink::setClock(&clock);
    }
    void TearDown() override {
        SerialLink::setPort(nullptr);
        SerialLink::setClock(nullptr);
    }
    SerialLink& link() { return SerialLink::instance(); }
    void openPort(int number = 3) {
        link().setPortNumber(number);
        ASSERT_EQ(link().portOpen(), 0);
    }

    ScriptedPort port;
    ManualClock clock{1000};
};

// Collects every chunk handed over by the receive loop.
struct ChunkRecorder : ChunkSink {
    Bytes bytes;
    std::vector<std::size_t> sizes;
    void consume(const unsigned char* b, std::size_t n) override {
        bytes.insert(bytes.end(), b, b + n);
        sizes.push_back(n);
    }
};

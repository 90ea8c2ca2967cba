#include "LinkFixture.h"

#include <QMessageBox>

#include <functional>

namespace {

const char* const writeLimitMessage = "Erreur USB param, enlever la prise USB et OK";
const char* const transferLimitMessage =
    "Erreur USB image, enlever la prise USB et l'alimentation et faire OK";

void expectOneDriverError(const ModalWatcher& w, const char* text) {
    ASSERT_EQ(w.seen().size(), 1u);
    EXPECT_EQ(w.seen()[0].text, QString::fromUtf8(text));
    EXPECT_EQ(w.seen()[0].title, QStringLiteral("Kovrel"));
    EXPECT_EQ(w.seen()[0].icon, int(QMessageBox::Critical));
}

Bytes countingBytes(std::size_t n) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i)
        b[i] = static_cast<unsigned char>(i * 7 + 3);
    return b;
}

} // namespace

using SerialLinkTest = LinkFixture;

TEST_F(SerialLinkTest, QueuedFramesGoOutByteExact) {
    struct Case {
        const char* name;
        std::function<void(SerialLink&)> queue;
        Bytes expected;
    };
    const Case cases[] = {
        {"frame",
         [](SerialLink& l) { l.queueFrame(0x66, 0x10, 0x2A); },
         {0x66, 0x10, 0x2A, 0x00, 0xFF}},
        {"word with a zero top byte",
         [](SerialLink& l) { l.queueWord(0x60, 0x00001234); },
         {0x60, 0x12, 0x34, 0x00, 0xFF}},
        {"word with a set top byte",
         [](SerialLink& l) { l.queueWord(0x61, 0x01020304); },
         {0x61, 0x03, 0x04, 0x00, 0xFF, 0x61, 0x01, 0x02, 0x00, 0xFF}},
        {"bits 16-23 alone are not sent",
         [](SerialLink& l) { l.queueWord(0x62, 0x00010000); },
         {0x62, 0x00, 0x00, 0x00, 0xFF}},
        {"negative word",
         [](SerialLink& l) { l.queueWord(0x62, -2); },
         {0x62, 0xFF, 0xFE, 0x00, 0xFF, 0x62, 0xFF, 0xFF, 0x00, 0xFF}},
        {"geometry has no tail",
         [](SerialLink& l) { l.queueGeometry(0x31, 5, 0, 4, 0); },
         {0x31, 0x05, 0x00, 0x04, 0x00}},
    };
    openPort();
    for (const Case& c : cases) {
        port.written.clear();
        c.queue(link());
        EXPECT_EQ(link().flushQueue(), 0) << c.name;
        EXPECT_EQ(port.written, c.expected) << c.name;
        EXPECT_EQ(link().queuedBytes(), 0u) << c.name;
    }
}

TEST_F(SerialLinkTest, PortOpensOnceWithTheCameraLineSettings) {
    link().setPortNumber(4);
    EXPECT_EQ(link().portOpen(), 0);
    ASSERT_EQ(port.openedPaths.size(), 1u);
    EXPECT_EQ(port.openedPaths[0], serialPortPath(4));
    ASSERT_EQ(port.applied.size(), 1u);
    const LineSettings& s = port.applied[0];
    EXPECT_EQ(s.baud, 115200);
    EXPECT_EQ(s.dataBits, 8);
    EXPECT_FALSE(s.parity);
    EXPECT_EQ(s.stopBits, 1);
    EXPECT_FALSE(s.hardwareFlow);
    EXPECT_FALSE(s.softwareFlow);
    EXPECT_TRUE(s.dtr);
    EXPECT_TRUE(s.rts);

    // A new number takes effect only after the port was closed.
    link().setPortNumber(7);
    EXPECT_EQ(link().portOpen(), 0);
    EXPECT_EQ(port.openedPaths.size(), 1u);
    EXPECT_EQ(port.applied.size(), 1u);

    EXPECT_EQ(link().portClose(), 0);
    EXPECT_EQ(port.closes, 1);
    EXPECT_EQ(port.inputPurges, 1);
    EXPECT_EQ(port.outputPurges, 1);
    EXPECT_EQ(link().portClose(), 0);
    EXPECT_EQ(port.closes, 1);
}

TEST_F(SerialLinkTest, UnopenablePortLeavesBatchesDroppedSilently) {
    port.openFails = true;
    ModalWatcher watcher;
    link().setPortNumber(9);
    EXPECT_EQ(link().portOpen(), -1);
    EXPECT_FALSE(link().isOpen());
    link().queueFrame(1, 2, 3);
    EXPECT_EQ(link().flushQueue(), 0);
    EXPECT_TRUE(port.written.empty());
    EXPECT_EQ(link().queuedBytes(), 0u);
    EXPECT_TRUE(watcher.seen().empty());
}

TEST_F(SerialLinkTest, ShortAndRefusedWritesAreResumedInOrder) {
    openPort();
    port.writeAccepts = {3, 0, -1, 4, 1};
    port.writableWait = SerialPort::Wait::Timeout;
    for (int i = 0; i < 4; ++i)
        link().queueFrame(std::uint8_t(i), std::uint8_t(i + 10), std::uint8_t(i + 20));
    EXPECT_EQ(link().flushQueue(), 0);
    const Bytes expected = {0, 10, 20, 0, 0xFF, 1, 11, 21, 0, 0xFF,
                            2, 12, 22, 0, 0xFF, 3, 13, 23, 0, 0xFF};
    EXPECT_EQ(port.written, expected);
    EXPECT_EQ(port.writableWaits, 2) << "waits only when the device takes nothing";
}

TEST_F(SerialLinkTest, WriteLimitTripsAfterFiveWholeSeconds) {
    openPort();
    clock.setStep(1); // every reading is one second later
    port.writeAccepts.assign(100, 0);
    port.writableWait = SerialPort::Wait::Timeout;
    ModalWatcher watcher;
    link().queueFrame(0x66, 1, 2);
    EXPECT_EQ(link().flushQueue(), 1);
    expectOneDriverError(watcher, writeLimitMessage);
    // t0 then readings 1..5 s later allow a write; 6 s later is past the limit.
    EXPECT_EQ(port.writeAccepts.size(), 95u);
    EXPECT_FALSE(link().isOpen());
    EXPECT_EQ(link().queuedBytes(), 0u);
}

TEST_F(SerialLinkTest, HungUpLineFailsTheWriteAtOnce) {
    openPort();
    port.writeAccepts = {0};
    port.writableWait = SerialPort::Wait::Hangup;
    ModalWatcher watcher;
    link().queueFrame(0x66, 1, 2);
    EXPECT_EQ(link().flushQueue(), 1);
    expectOneDriverError(watcher, writeLimitMessage);
    EXPECT_FALSE(link().isOpen());
}

TEST_F(SerialLinkTest, FullQueueIsWrittenBeforeTheNextFrame) {
    openPort();
    const std::size_t perQueue = SerialLink::queueCapacity / 5; // 102 frames
    for (std::size_t i = 0; i <= perQueue; ++i)
        link().queueFrame(0x66, std::uint8_t(i), 0);
    EXPECT_EQ(port.written.size(), perQueue * 5);
    EXPECT_EQ(link().queuedBytes(), 5u);
    link().flushQueue();
    ASSERT_EQ(port.written.size(), (perQueue + 1) * 5);
    EXPECT_EQ(port.written[perQueue * 5 + 1], std::uint8_t(perQueue));
}

TEST_F(SerialLinkTest, ReceiveHandsOverChunksAndNeverReadsPastTheCount) {
    openPort();
    const Bytes data = countingBytes(1000);
    port.incoming = {Bytes(data.begin(), data.begin() + 300),
                     {},
                     Bytes(data.begin() + 300, data.begin() + 301),
                     {},
                     {},
                     Bytes(data.begin() + 301, data.end())};
    port.incoming.push_back({9, 9, 9}); // surplus stays in the port
    ChunkRecorder sink;
    EXPECT_EQ(link().receive(1000, 60.0, sink), SerialLink::Received);
    EXPECT_EQ(sink.bytes, data);
    EXPECT_EQ(sink.sizes, (std::vector<std::size_t>{300, 1, 699}));
    for (std::size_t n : port.readSizes)
        EXPECT_LE(n, 1000u);
    EXPECT_EQ(port.readSizes.back(), 699u);
    EXPECT_EQ(port.bytesWaiting(), 3);
    EXPECT_EQ(port.readableWaits, 3) << "each idle spell waits on the port";
}

TEST_F(SerialLinkTest, ReceiveOutcomes) {
    struct Case {
        const char* name;
        bool open;
        std::deque<Bytes> incoming;
        std::time_t secondsPerRead;
        bool readFails;
        bool hangupWhenDry;
        long expected;
        int result;
        const char* message; // null: no box
    };
    const Case cases[] = {
        {"nothing expected", true, {}, 0, false, false, 0, 0, nullptr},
        {"no port", false, {{1, 2}}, 0, false, false, 2, 1, nullptr},
        {"read fails", true, {{1, 2}}, 0, true, false, 2, 1, nullptr},
        {"line hangs up mid-transfer", true, {{1, 2, 3}}, 0, false, true, 10, 1, nullptr},
        {"port stays dry past the limit", true, {}, 1, false, false, 10, 2, transferLimitMessage},
        {"steady bytes outlast the limit",
         true,
         {{1}, {2}, {3}, {4}, {5}},
         30,
         false,
         false,
         5,
         0,
         nullptr},
        {"idle spells within the limit", true, {{1}, {}, {}, {2}}, 20, false, false, 2, 0, nullptr},
        {"dry once the limit has passed",
         true,
         {{1, 2, 3, 4}, {}, {5}},
         61,
         false,
         false,
         5,
         2,
         transferLimitMessage},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPort p;
        ManualClock clk{5000};
        SerialLink::setPort(&p);
        SerialLink::setClock(&clk);
        if (c.open) {
            ASSERT_EQ(link().portOpen(), 0);
        }
        p.incoming = c.incoming;
        p.clock = &clk;
        p.secondsPerRead = c.secondsPerRead;
        if (c.secondsPerRead == 1 && c.incoming.empty())
            clk.setStep(1);
        p.readFails = c.readFails;
        p.hangupWhenDry = c.hangupWhenDry;
        ModalWatcher watcher;
        ChunkRecorder sink;
        EXPECT_EQ(link().receive(c.expected, 60.0, sink), c.result);
        if (c.message) {
            expectOneDriverError(watcher, c.message);
        } else {
            EXPECT_TRUE(watcher.seen().empty());
        }
        EXPECT_EQ(link().isOpen(), c.result == 0 && c.open);
        SerialLink::setPort(&port);
        SerialLink::setClock(&clock);
    }
}

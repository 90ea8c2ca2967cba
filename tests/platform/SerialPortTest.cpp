#include "SerialPort.h"

#include "common/PtyPair.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

#include <termios.h>
#include <unistd.h>

namespace {

std::vector<unsigned char> readAll(PosixSerialPort& port, std::size_t n) {
    std::vector<unsigned char> got;
    unsigned char buf[256];
    while (got.size() < n && port.waitReadable(2000) == SerialPort::Wait::Ready) {
        const long r = port.read(buf, sizeof buf);
        if (r <= 0)
            break;
        got.insert(got.end(), buf, buf + r);
    }
    return got;
}

} // namespace

TEST(PosixSerialPort, BytesTravelBothWaysUnchanged) {
    PtyPair pty;
    PosixSerialPort port;
    ASSERT_TRUE(port.open(pty.slavePath()));
    ASSERT_TRUE(port.apply(LineSettings{}));
    // Every byte value, including the ones a cooked terminal would translate.
    std::vector<unsigned char> all(256);
    for (int i = 0; i < 256; ++i)
        all[i] = static_cast<unsigned char>(i);
    EXPECT_EQ(port.write(all.data(), all.size()), 256);
    EXPECT_EQ(pty.receiveExactly(256, 2000), all);
    pty.send(all);
    EXPECT_EQ(readAll(port, 256), all);
}

TEST(PosixSerialPort, BytesWaitingAndPurge) {
    PtyPair pty;
    PosixSerialPort port;
    ASSERT_TRUE(port.open(pty.slavePath()));
    ASSERT_TRUE(port.apply(LineSettings{}));
    EXPECT_EQ(port.bytesWaiting(), 0);
    unsigned char none[4];
    EXPECT_EQ(port.read(none, 4), 0); // never blocks
    EXPECT_EQ(port.waitReadable(50), SerialPort::Wait::Timeout);
    pty.send(std::vector<unsigned char>{1, 2, 3, 4, 5});
    ASSERT_EQ(port.waitReadable(2000), SerialPort::Wait::Ready);
    for (int i = 0; i < 50 && port.bytesWaiting() < 5; ++i)
        ::usleep(2000);
    EXPECT_EQ(port.bytesWaiting(), 5);
    port.purge(true, true);
    EXPECT_EQ(port.bytesWaiting(), 0);
    pty.send(std::vector<unsigned char>{9});
    EXPECT_EQ(readAll(port, 1), std::vector<unsigned char>{9});
}

TEST(PosixSerialPort, SecondOpenOfTheSameDeviceIsRefused) {
    PtyPair pty;
    PosixSerialPort first, second;
    ASSERT_TRUE(first.open(pty.slavePath()));
    EXPECT_FALSE(second.open(pty.slavePath()));
    EXPECT_FALSE(first.open(pty.slavePath())) << "an open port is not reopened";
    first.close();
    EXPECT_TRUE(second.open(pty.slavePath())) << "closing frees the device";
}

TEST(PosixSerialPort, MissingDeviceIsNotOpened) {
    PosixSerialPort port;
    EXPECT_FALSE(port.open("/nonexistent/ttyZ9"));
    EXPECT_FALSE(port.isOpen());
    EXPECT_EQ(port.bytesWaiting(), -1);
    EXPECT_EQ(port.write("x", 1), -1);
}

TEST(PosixSerialPort, LineSettingsAreApplied) {
    PtyPair pty;
    PosixSerialPort port;
    ASSERT_TRUE(port.open(pty.slavePath()));
    // Start from a cooked, slow, odd-parity line to see every setting change.
    termios t{};
    ASSERT_EQ(::tcgetattr(port.handle(), &t), 0);
    t.c_lflag |= ICANON | ECHO | ISIG;
    t.c_iflag |= IXON | IXOFF | ICRNL | INPCK;
    t.c_oflag |= OPOST;
    t.c_cflag |= PARENB | PARODD | CSTOPB | CRTSCTS;
    t.c_cflag = (t.c_cflag & ~CSIZE) | CS7;
    ::cfsetospeed(&t, B9600);
    ::cfsetispeed(&t, B9600);
    ASSERT_EQ(::tcsetattr(port.handle(), TCSANOW, &t), 0);

    ASSERT_TRUE(port.apply(LineSettings{}));
    ASSERT_EQ(::tcgetattr(port.handle(), &t), 0);
    EXPECT_EQ(::cfgetospeed(&t), speed_t(B115200));
    EXPECT_EQ(::cfgetispeed(&t), speed_t(B115200));
    EXPECT_EQ(t.c_cflag & CSIZE, tcflag_t(CS8));
    EXPECT_FALSE(t.c_cflag & (PARENB | CSTOPB | CRTSCTS));
    EXPECT_TRUE(t.c_cflag & CREAD);
    EXPECT_TRUE(t.c_cflag & CLOCAL);
    EXPECT_FALSE(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN));
    EXPECT_FALSE(t.c_iflag & (IXON | IXOFF | ICRNL | INPCK | ISTRIP | IGNBRK | BRKINT | PARMRK));
    EXPECT_FALSE(t.c_oflag & OPOST);
    EXPECT_EQ(t.c_cc[VMIN], 0);
    EXPECT_EQ(t.c_cc[VTIME], 0);
}

TEST(PosixSerialPort, HangupIsReportedWhenThePeerGoesAway) {
    auto pty = std::make_unique<PtyPair>();
    PosixSerialPort port;
    ASSERT_TRUE(port.open(pty->slavePath()));
    ASSERT_TRUE(port.apply(LineSettings{}));
    pty.reset();
    EXPECT_EQ(port.waitReadable(2000), SerialPort::Wait::Hangup);
}

TEST(SerialPortPath, LinkInThePortsFolderThenTtyS) {
    EXPECT_EQ(serialPortPath(1), "/dev/ttyS0");
    EXPECT_EQ(serialPortPath(3), "/dev/ttyS2");
    EXPECT_EQ(serialPortPath(0), "");
    EXPECT_EQ(serialPortPath(-4), "");
    const std::string folder = serialPortsFolder();
    EXPECT_EQ(folder, qEnvironmentVariable("XDG_CONFIG_HOME").toStdString() + "/VKL_Zermic/ports");
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(folder)));
    PtyPair pty;
    const std::string link = folder + "/COM2";
    ASSERT_EQ(::symlink(pty.slavePath().c_str(), link.c_str()), 0);
    EXPECT_EQ(serialPortPath(2), link);
    PosixSerialPort port;
    EXPECT_TRUE(port.open(serialPortPath(2)));
    ::unlink(link.c_str());
    EXPECT_EQ(serialPortPath(2), "/dev/ttyS1");
}

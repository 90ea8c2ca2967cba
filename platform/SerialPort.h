#pragma once

#include <cstddef>
#include <string>

// Line settings a serial port can be given. Fields not named here keep what the
// device reports.
struct LineSettings {
    int baud = 115200;
    int dataBits = 8;
    bool parity = false; // no parity generation or checking when false
    int stopBits = 1;
    bool hardwareFlow = false; // CTS/RTS output flow control
    bool softwareFlow = false; // XON/XOFF in and out
    bool dtr = true;           // DTR raised
    bool rts = true;           // RTS raised
};

// A byte-level serial port. The real one is PosixSerialPort; tests put a
// scripted port in its place.
class SerialPort {
public:
    enum class Wait { Ready, Timeout, Hangup, Error };

    virtual ~SerialPort() = default;
    // Opens an existing device for reading and writing, exclusively, without
    // making it the controlling terminal. False when it cannot be opened.
    virtual bool open(const std::string& path) = 0;
    // errno of the last failed open (0 when unknown or after a success).
    virtual int openError() const { return 0; }
    virtual bool isOpen() const = 0;
    virtual bool apply(const LineSettings& settings) = 0;
    // Bytes waiting in the input queue; -1 on error.
    virtual long bytesWaiting() = 0;
    // Reads up to n bytes without blocking; the count read, 0 when none wait, -1 on error.
    virtual long read(void* buffer, std::size_t n) = 0;
    // Writes up to n bytes; the count written (possibly short), -1 on error.
    virtual long write(const void* data, std::size_t n) = 0;
    // Waits until bytes can be read, the line hangs up, or the timeout passes.
    virtual Wait waitReadable(int timeoutMs) = 0;
    // Waits until bytes can be written or the timeout passes.
    virtual Wait waitWritable(int timeoutMs) = 0;
    virtual void purge(bool input, bool output) = 0;
    virtual void close() = 0;
};

// termios + ioctl + poll.
class PosixSerialPort : public SerialPort {
public:
    PosixSerialPort() = default;
    ~PosixSerialPort() override;
    PosixSerialPort(const PosixSerialPort&) = delete;
    PosixSerialPort& operator=(const PosixSerialPort&) = delete;

    bool open(const std::string& path) override;
    int openError() const override { return lastOpenError; }
    bool isOpen() const override { return fd >= 0; }
    bool apply(const LineSettings& settings) override;
    long bytesWaiting() override;
    long read(void* buffer, std::size_t n) override;
    long write(const void* data, std::size_t n) override;
    Wait waitReadable(int timeoutMs) override;
    Wait waitWritable(int timeoutMs) override;
    void purge(bool input, bool output) override;
    void close() override;
    int handle() const { return fd; }

private:
    bool fail(int f);
    int fd = -1;
    int lastOpenError = 0;
};

// Folder of user-made port links: $XDG_CONFIG_HOME/VKL_Zermic/ports.
std::string serialPortsFolder();
// Device path of port number n ("COM<n>"): the link COM<n> in the ports folder
// when it exists, otherwise /dev/ttyS<n-1> for n >= 1; empty when n names no port.
std::string serialPortPath(int n);

#include "TestFiles.h"

#include "ImageBuffer.h"

#include <QProcess>
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <random>

Bytes readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeBytes(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    ASSERT_TRUE(out.good()) << path;
}

std::string cardAt(const Bytes& file, int i) {
    if (file.size() < std::size_t(i + 1) * 80)
        return {};
    return std::string(file.begin() + i * 80, file.begin() + (i + 1) * 80);
}

std::string card80(const std::string& text) {
    std::string c = text.substr(0, 80);
    c.resize(80, ' ');
    return c;
}

Bytes fitsHeaderBytes(const std::vector<std::string>& cards) {
    std::string text;
    for (const std::string& c : cards)
        text += card80(c);
    text += card80("END");
    text.resize((text.size() + 2879) / 2880 * 2880, ' ');
    return Bytes(text.begin(), text.end());
}

Bytes bigEndian(const std::vector<std::uint16_t>& values) {
    Bytes out;
    for (std::uint16_t v : values) {
        out.push_back(static_cast<unsigned char>(v >> 8));
        out.push_back(static_cast<unsigned char>(v));
    }
    return out;
}

Bytes littleEndian(const std::vector<std::uint16_t>& values) {
    Bytes out;
    for (std::uint16_t v : values) {
        out.push_back(static_cast<unsigned char>(v));
        out.push_back(static_cast<unsigned char>(v >> 8));
    }
    return out;
}

std::vector<std::uint16_t> randomPixels(std::size_t count, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<std::uint16_t> v(count);
    for (auto& p : v)
        p = static_cast<std::uint16_t>(rng());
    // The extremes and the sign boundary always appear.
    const std::uint16_t edges[] = {0, 1, 255, 256, 32767, 32768, 32769, 65535};
    for (std::size_t i = 0; i < count && i < std::size(edges); ++i)
        v[i] = edges[i];
    return v;
}

void fillImage(ImageBuffer& image, int width, int height,
               const std::vector<std::uint16_t>& values) {
    ASSERT_TRUE(image.resize(width, height));
    ASSERT_EQ(values.size(), std::size_t(width) * height);
    std::copy(values.begin(), values.end(), image.pixels);
}

std::vector<std::uint16_t> pixelsOf(const ImageBuffer& image) {
    if (!image.pixels)
        return {};
    return std::vector<std::uint16_t>(image.pixels,
                                      image.pixels + std::size_t(image.width) * image.height);
}

int runProgram(const QString& program, const QStringList& args, QString* output) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForStarted(10000))
        return -1;
    p.waitForFinished(120000);
    if (output)
        *output = QString::fromUtf8(p.readAll());
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

int runPython(const QString& script, const QStringList& args, QString* output) {
    return runProgram(QStringLiteral("/usr/bin/python3"), QStringList{"-c", script} + args, output);
}

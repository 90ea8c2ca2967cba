#pragma once

#include <QString>

#include <cstdint>
#include <string>
#include <vector>

class ImageBuffer;

using Bytes = std::vector<unsigned char>;

Bytes readBytes(const std::string& path);
void writeBytes(const std::string& path, const Bytes& bytes);
// The 80-byte card at index i of a file's first header block, as text.
std::string cardAt(const Bytes& file, int i);
// text padded with blanks to one 80-column card.
std::string card80(const std::string& text);
// A header block of the given cards plus END, blank-padded to whole records.
Bytes fitsHeaderBytes(const std::vector<std::string>& cards);
// Big-endian 16-bit values.
Bytes bigEndian(const std::vector<std::uint16_t>& values);
Bytes littleEndian(const std::vector<std::uint16_t>& values);
// Deterministic pseudo-random values covering the whole 16-bit range.
std::vector<std::uint16_t> randomPixels(std::size_t count, unsigned seed);
// Sets the image to the size and values given.
void fillImage(ImageBuffer& image, int width, int height, const std::vector<std::uint16_t>& values);
std::vector<std::uint16_t> pixelsOf(const ImageBuffer& image);
// Runs a program with arguments; returns its exit code and fills the joined
// standard output and error.
int runProgram(const QString& program, const QStringList& args, QString* output = nullptr);
// Runs a Python snippet with Debian's interpreter (astropy, Pillow).
int runPython(const QString& script, const QStringList& args, QString* output);

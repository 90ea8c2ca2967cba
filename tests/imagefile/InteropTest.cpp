// Cross-checks against the reference FITS tools and an independent BMP reader.
#include "BmpWriter.h"
#include "ImageBuffer.h"
#include "ImageOpen.h"
#include "ImageSave.h"
#include "TestFiles.h"
#include "common/TempDir.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <fitsio.h>
#include <gtest/gtest.h>

namespace {

QString q(const std::string& s) {
    return QString::fromStdString(s);
}

struct Saved {
    std::string path;
    int width, height;
    std::time_t when;
    std::vector<std::uint16_t> values;
};

std::vector<Saved> saveSamples(const TempDir& dir) {
    std::vector<Saved> files = {
        {dir.file("a.fit"), 768, 512, 1700000000, {}},
        {dir.file("b.fit"), 1, 1, 0, {}},
        {dir.file("c.fit"), 1440, 2, 1600000000, {}},
        {dir.file("d.fits"), 33, 17, 1, {}},
    };
    unsigned seed = 40;
    for (Saved& s : files) {
        s.values = randomPixels(std::size_t(s.width) * s.height, seed++);
        ImageBuffer image;
        fillImage(image, s.width, s.height, s.values);
        EXPECT_EQ(saveFits(q(s.path), image, s.when), 0) << s.path;
    }
    return files;
}

std::vector<std::int16_t> asSigned(const std::vector<std::uint16_t>& v) {
    return std::vector<std::int16_t>(v.begin(), v.end());
}

} // namespace

TEST(Interop, FitsverifyFindsNoErrorInSavedFiles) {
    TempDir dir;
    for (const Saved& s : saveSamples(dir)) {
        QString out;
        runProgram(QStringLiteral("fitsverify"), {q(s.path)}, &out);
        EXPECT_TRUE(out.contains(QStringLiteral("and 0 error(s)"))) << out.toStdString();
    }
}

TEST(Interop, AstropyReadsShapeCardsAndSignedValues) {
    TempDir dir;
    const auto files = saveSamples(dir);
    const QString script = QStringLiteral(R"(
import sys, json, numpy
from astropy.io import fits
out = []
for path in sys.argv[1:]:
    with fits.open(path) as h:
        hdr, data = h[0].header, h[0].data
        data.astype('<i2').tofile(path + '.raw')
        out.append({'shape': list(data.shape), 'dtype': str(data.dtype),
                    'bzero': 'BZERO' in hdr, 'date': hdr.get('DATE', ''),
                    'time': hdr.get('TIME', ''), 'comments': [str(c) for c in hdr['COMMENT']]})
print(json.dumps(out))
)");
    QStringList paths;
    for (const Saved& s : files)
        paths << q(s.path);
    QString out;
    ASSERT_EQ(runPython(script, paths, &out), 0) << out.toStdString();
    const QJsonArray results = QJsonDocument::fromJson(out.toUtf8()).array();
    ASSERT_EQ(results.size(), qsizetype(files.size())) << out.toStdString();
    for (std::size_t i = 0; i < files.size(); ++i) {
        const Saved& s = files[i];
        SCOPED_TRACE(s.path);
        const QJsonObject r = results[qsizetype(i)].toObject();
        EXPECT_EQ(r["shape"].toArray(), (QJsonArray{s.height, s.width}));
        EXPECT_EQ(r["dtype"].toString(), ">i2");
        EXPECT_FALSE(r["bzero"].toBool());
        EXPECT_EQ(r["date"].toString().isEmpty(), s.when == 0);
        EXPECT_EQ(r["time"].toString().isEmpty(), s.when == 0);
        const QJsonArray comments = r["comments"].toArray();
        ASSERT_EQ(comments.size(), 11);
        EXPECT_EQ(comments[0].toString(), "ACQ-CHAMPS-AQ / Debut Champs Acquisition");
        EXPECT_TRUE(comments[1].toString().startsWith("ACQ-nx"))
            << comments[1].toString().toStdString();
        EXPECT_EQ(comments[10].toString(), "ACQ-FIN       / Fin Champs Acquisition");
        const Bytes raw = readBytes(s.path + ".raw");
        ASSERT_EQ(raw.size(), s.values.size() * 2);
        std::vector<std::int16_t> seen(s.values.size());
        std::memcpy(seen.data(), raw.data(), raw.size());
        EXPECT_EQ(seen, asSigned(s.values));
    }
}

TEST(Interop, StandardCardsAreReadByAstropyFitsverifyAndOurReader) {
    TempDir dir;
    const std::string path = dir.file("full.fit");
    const auto values = randomPixels(33 * 17, 9);
    ImageBuffer image;
    fillImage(image, 33, 17, values);
    const FitsObservation o{1700000000, 120, 5, 3, 20, 7};
    ASSERT_EQ(
        saveFits(q(path), image, o.start, std::nullopt, SafeFileWriter::Existing::Replace, &o), 0);
    QString out;
    runProgram(QStringLiteral("fitsverify"), {q(path)}, &out);
    EXPECT_TRUE(out.contains(QStringLiteral("0 warning(s) and 0 error(s)"))) << out.toStdString();
    ImageBuffer back;
    ASSERT_EQ(loadImageFile(back, q(path)), ImageLoadResult::Ok);
    EXPECT_EQ(pixelsOf(back), values);

    const QString script = QStringLiteral(R"(
import sys, json
from astropy.io import fits
from astropy.time import Time
h = fits.getheader(sys.argv[1])
r = {k: h[k] for k in ('EXPTIME', 'XBINNING', 'YBINNING', 'XORGSUBF', 'YORGSUBF', 'INSTRUME',
                       'IMAGETYP')}
r['unix'] = Time(h['DATE-OBS'], scale='utc').unix
print(json.dumps(r))
)");
    ASSERT_EQ(runPython(script, {q(path)}, &out), 0) << out.toStdString();
    const QJsonObject r = QJsonDocument::fromJson(out.toUtf8()).object();
    EXPECT_DOUBLE_EQ(r["EXPTIME"].toDouble(), 120.05);
    EXPECT_EQ(r["XBINNING"].toInt(), 3);
    EXPECT_EQ(r["YBINNING"].toInt(), 3);
    EXPECT_EQ(r["XORGSUBF"].toInt(), 20);
    EXPECT_EQ(r["YORGSUBF"].toInt(), 7);
    EXPECT_EQ(r["INSTRUME"].toString(), "Kovrel CCD");
    EXPECT_EQ(r["IMAGETYP"].toString(), "Light Frame");
    EXPECT_DOUBLE_EQ(r["unix"].toDouble(), 1700000000.0);
}

TEST(Interop, UnsignedFilesOfAstropyAndCfitsioReadExactly) {
    TempDir dir;
    const int w = 37, h = 11;
    std::vector<std::uint16_t> expected(std::size_t(w) * h);
    for (std::size_t i = 0; i < expected.size(); ++i)
        expected[i] = static_cast<std::uint16_t>((i * 7919 + 13) % 65536);
    expected[0] = 0, expected[1] = 65535, expected[2] = 32768, expected[3] = 32767;

    const std::string astropyPath = dir.file("astropy.fits");
    const QString script = QStringLiteral(R"(
import sys, numpy
from astropy.io import fits
w, h = int(sys.argv[2]), int(sys.argv[3])
v = (numpy.arange(w * h, dtype=numpy.int64) * 7919 + 13) % 65536
v[0], v[1], v[2], v[3] = 0, 65535, 32768, 32767
fits.PrimaryHDU(v.astype(numpy.uint16).reshape(h, w)).writeto(sys.argv[1], overwrite=True)
)");
    QString out;
    ASSERT_EQ(runPython(script, {q(astropyPath), QString::number(w), QString::number(h)}, &out), 0)
        << out.toStdString();

    const std::string cfitsioPath = dir.file("cfitsio.fit");
    fitsfile* f = nullptr;
    int status = 0;
    long axes[2] = {w, h};
    const std::string created = "!" + cfitsioPath;
    fits_create_file(&f, created.c_str(), &status);
    fits_create_img(f, USHORT_IMG, 2, axes, &status);
    std::vector<std::uint16_t> copy = expected;
    fits_write_img(f, TUSHORT, 1, LONGLONG(copy.size()), copy.data(), &status);
    fits_close_file(f, &status);
    ASSERT_EQ(status, 0);

    for (const std::string& path : {astropyPath, cfitsioPath}) {
        SCOPED_TRACE(path);
        // Both programs store unsigned values with the standard offset.
        std::FILE* file = std::fopen(path.c_str(), "rb");
        ASSERT_NE(file, nullptr);
        FitsInput input;
        EXPECT_EQ(readFitsHeader(file, input), 0);
        EXPECT_TRUE(input.unsignedOffset);
        std::fclose(file);

        ImageBuffer image;
        ASSERT_EQ(loadImageFile(image, q(path)), ImageLoadResult::Ok);
        EXPECT_EQ(image.width, w);
        EXPECT_EQ(image.height, h);
        EXPECT_EQ(pixelsOf(image), expected);
    }
}

TEST(Interop, CfitsioReadsSavedFilesAndWritesSignedOnes) {
    TempDir dir;
    for (const Saved& s : saveSamples(dir)) {
        SCOPED_TRACE(s.path);
        fitsfile* f = nullptr;
        int status = 0;
        fits_open_file(&f, s.path.c_str(), READONLY, &status);
        int bitpix = 0, naxis = 0;
        long axes[2] = {};
        fits_get_img_param(f, 2, &bitpix, &naxis, axes, &status);
        std::vector<std::int16_t> seen(s.values.size());
        int anyNull = 0;
        fits_read_img(f, TSHORT, 1, LONGLONG(seen.size()), nullptr, seen.data(), &anyNull, &status);
        fits_close_file(f, &status);
        ASSERT_EQ(status, 0);
        EXPECT_EQ(bitpix, 16);
        EXPECT_EQ(naxis, 2);
        EXPECT_EQ(axes[0], s.width);
        EXPECT_EQ(axes[1], s.height);
        EXPECT_EQ(seen, asSigned(s.values));
    }

    // Signed data without an offset comes in as its raw 16-bit pattern.
    const std::string path = dir.file("signed.fit");
    std::vector<std::int16_t> values = {-32768, -1, 0, 1, 32767, -300};
    fitsfile* f = nullptr;
    int status = 0;
    long axes[2] = {3, 2};
    const std::string created = "!" + path;
    fits_create_file(&f, created.c_str(), &status);
    fits_create_img(f, SHORT_IMG, 2, axes, &status);
    fits_write_img(f, TSHORT, 1, 6, values.data(), &status);
    fits_close_file(f, &status);
    ASSERT_EQ(status, 0);
    ImageBuffer image;
    ASSERT_EQ(loadImageFile(image, q(path)), ImageLoadResult::Ok);
    EXPECT_EQ(pixelsOf(image), (std::vector<std::uint16_t>{32768, 65535, 0, 1, 32767, 65236}));
}

TEST(Interop, PillowSeesTheBitmapsPixels) {
    TempDir dir;
    unsigned char table[256 * 4];
    for (int i = 0; i < 256; ++i) {
        table[4 * i] = static_cast<unsigned char>(255 - i);
        table[4 * i + 1] = static_cast<unsigned char>(i / 2);
        table[4 * i + 2] = static_cast<unsigned char>(i);
        table[4 * i + 3] = 0;
    }
    struct Case {
        std::string path;
        int w, h, bpp;
        Bytes bits;
    };
    std::vector<Case> cases = {{dir.file("colour.bmp"), 772, 512, 24, {}},
                               {dir.file("grey.bmp"), 13, 6, 8, {}}};
    for (Case& c : cases) {
        c.bits.resize(std::size_t(bmpRowBytes(c.w, c.bpp)) * c.h);
        for (std::size_t i = 0; i < c.bits.size(); ++i)
            c.bits[i] = static_cast<unsigned char>((i * 37) ^ (i >> 9));
        ASSERT_EQ(writeBmp(q(c.path), c.bits.data(), c.w, c.h, c.bpp, table), 0);
    }
    const QString script = QStringLiteral(R"(
import sys, json
from PIL import Image
out = []
for path in sys.argv[1:]:
    im = Image.open(path)
    out.append([im.size[0], im.size[1], im.mode])
    open(path + '.rgb', 'wb').write(im.convert('RGB').tobytes())
print(json.dumps(out))
)");
    QString out;
    ASSERT_EQ(runPython(script, {q(cases[0].path), q(cases[1].path)}, &out), 0)
        << out.toStdString();
    const QJsonArray results = QJsonDocument::fromJson(out.toUtf8()).array();
    ASSERT_EQ(results.size(), 2) << out.toStdString();
    for (std::size_t k = 0; k < cases.size(); ++k) {
        const Case& c = cases[k];
        SCOPED_TRACE(c.path);
        EXPECT_EQ(results[qsizetype(k)].toArray(), (QJsonArray{c.w, c.h, "RGB"}));
        // Expected screen colours, top row first, red green blue.
        Bytes rgb;
        const long long row = bmpRowBytes(c.w, c.bpp);
        for (int y = c.h - 1; y >= 0; --y) {
            for (int x = 0; x < c.w; ++x) {
                const unsigned char* p = c.bpp == 24 ? &c.bits[std::size_t(row * y + 3 * x)]
                                                     : &table[4 * c.bits[std::size_t(row * y + x)]];
                rgb.insert(rgb.end(), {p[2], p[1], p[0]});
            }
        }
        EXPECT_EQ(readBytes(c.path + ".rgb"), rgb);
    }
}

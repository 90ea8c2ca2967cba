#include "ImageBuffer.h"
#include "ImageOpen.h"
#include "ImageSave.h"
#include "TestFiles.h"
#include "common/InChild.h"
#include "common/TempDir.h"

#include <QStringList>
#include <gtest/gtest.h>

#include <cstring>
#include <sys/stat.h>

namespace {

std::string value(const char* key, const std::string& v) {
    char line[81];
    std::snprintf(line, sizeof line, "%-8s= %20s", key, v.c_str());
    return line;
}

std::vector<std::string> imageCards(int bitpix, int naxis, int n1, int n2) {
    return {value("SIMPLE", "T"), value("BITPIX", std::to_string(bitpix)),
            value("NAXIS", std::to_string(naxis)), value("NAXIS1", std::to_string(n1)),
            value("NAXIS2", std::to_string(n2))};
}

Bytes concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The image every rejected read must leave untouched.
const std::vector<std::uint16_t> kPrevious = {11, 22, 33, 44, 55, 66};

class Reader : public ::testing::Test {
protected:
    void SetUp() override { fillImage(image, 3, 2, kPrevious); }

    ImageLoadResult load(const std::string& name, const Bytes& bytes) {
        const std::string path = dir.file(name);
        writeBytes(path, bytes);
        return loadImageFile(image, QString::fromStdString(path));
    }
    void expectUnchanged() {
        EXPECT_EQ(image.width, 3);
        EXPECT_EQ(image.height, 2);
        EXPECT_EQ(pixelsOf(image), kPrevious);
    }

    TempDir dir;
    ImageBuffer image;
};

} // namespace

TEST(ImageFileFormat, ChosenByTheExtensionOfTheFileName) {
    struct Case {
        const char* path;
        ImageFileFormat format;
    };
    const Case cases[] = {
        {"a.fit", ImageFileFormat::Fits},
        {"a.FITS", ImageFileFormat::Fits},
        {"a.fitz", ImageFileFormat::Fits},
        {"/x/y.b/a.Fit", ImageFileFormat::Fits},
        {"a.fts", ImageFileFormat::Unknown},
        {"a.fi", ImageFileFormat::Unknown},
        {"a.eip", ImageFileFormat::Eip},
        {"a.EIP", ImageFileFormat::Eip},
        {"a.eipx", ImageFileFormat::Unknown},
        {"a.img", ImageFileFormat::Img},
        {"a.IMG", ImageFileFormat::Img},
        {"a.fit.bak", ImageFileFormat::Unknown},
        {"/data/m31.fit/raw", ImageFileFormat::Unknown},
        {"noext", ImageFileFormat::Unknown},
        {"a.", ImageFileFormat::Unknown},
    };
    for (const Case& c : cases)
        EXPECT_EQ(imageFileFormatForPath(c.path), c.format) << c.path;
}

TEST_F(Reader, FitsHeadersAcceptedOrRejected) {
    const Bytes data4 = bigEndian({1, 2, 3, 0xFFFF});
    struct Case {
        const char* name;
        std::vector<std::string> cards;
        ImageLoadResult result;
        int width, height;
    };
    auto with = [](std::vector<std::string> cards, std::vector<std::string> more) {
        cards.insert(cards.end(), more.begin(), more.end());
        return cards;
    };
    std::vector<std::string> noSimple = imageCards(16, 2, 2, 2);
    noSimple.erase(noSimple.begin());
    std::vector<std::string> manyComments = imageCards(16, 2, 2, 2);
    for (int i = 0; i < 40; ++i)
        manyComments.insert(manyComments.begin() + 1, "COMMENT filler");
    const Case cases[] = {
        {"plain 2x2", imageCards(16, 2, 2, 2), ImageLoadResult::Ok, 2, 2},
        {"no SIMPLE card", noSimple, ImageLoadResult::Ok, 2, 2},
        {"header of two records", manyComments, ImageLoadResult::Ok, 2, 2},
        {"ENDTIME is not END", with({value("ENDTIME", "5")}, imageCards(16, 2, 2, 2)),
         ImageLoadResult::Ok, 2, 2},
        {"one axis",
         {value("SIMPLE", "T"), value("BITPIX", "16"), value("NAXIS", "1"), value("NAXIS1", "4")},
         ImageLoadResult::Ok,
         4,
         0},
        {"SIMPLE F", with({value("SIMPLE", "F")}, imageCards(16, 2, 2, 2)),
         ImageLoadResult::NotFits, 0, 0},
        {"three axes", with(imageCards(16, 3, 2, 2), {value("NAXIS3", "1")}),
         ImageLoadResult::UnsupportedFits, 0, 0},
        {"BITPIX 8", imageCards(8, 2, 2, 2), ImageLoadResult::UnsupportedFits, 0, 0},
        {"BITPIX -32", imageCards(-32, 2, 2, 2), ImageLoadResult::UnsupportedFits, 0, 0},
        {"no BITPIX",
         {value("SIMPLE", "T"), value("NAXIS", "2"), value("NAXIS1", "2"), value("NAXIS2", "2")},
         ImageLoadResult::UnsupportedFits,
         0,
         0},
        {"negative width", imageCards(16, 2, -2, 2), ImageLoadResult::UnsupportedFits, 0, 0},
        {"negative height", imageCards(16, 2, 2, -5), ImageLoadResult::UnsupportedFits, 0, 0},
        {"zero height", imageCards(16, 2, 2, 0), ImageLoadResult::UnsupportedFits, 0, 0},
        {"zero width", imageCards(16, 2, 0, 2), ImageLoadResult::UnsupportedFits, 0, 0},
        {"side above 65535", imageCards(16, 2, 65536, 1), ImageLoadResult::TooLarge, 0, 0},
        {"more than 256 MiB", imageCards(16, 2, 16384, 8193), ImageLoadResult::TooLarge, 0, 0},
        {"overflowing digits", with(imageCards(16, 2, 2, 2), {value("NAXIS1", "99999999999999")}),
         ImageLoadResult::TooLarge, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        const ImageLoadResult r = load("f.fit", concat(fitsHeaderBytes(c.cards), data4));
        EXPECT_EQ(r, c.result);
        if (c.result == ImageLoadResult::Ok) {
            EXPECT_EQ(image.width, c.width);
            EXPECT_EQ(image.height, c.height);
            EXPECT_NE(image.pixels, nullptr);
            if (c.height == 2) {
                EXPECT_EQ(pixelsOf(image), (std::vector<std::uint16_t>{1, 2, 3, 0xFFFF}));
            }
        } else {
            expectUnchanged();
        }
    }
}

TEST_F(Reader, FitsWithoutEndCardOrWithCutHeaderIsRejected) {
    Bytes noEnd;
    for (const std::string& c : imageCards(16, 2, 2, 2))
        for (char ch : card80(c))
            noEnd.push_back(static_cast<unsigned char>(ch));
    const Bytes blankRecord(2880 - noEnd.size(), ' ');
    const Bytes full = fitsHeaderBytes(imageCards(16, 2, 2, 2));
    const Bytes cases[] = {
        concat(noEnd, blankRecord),                           // one whole record, no END
        concat(concat(noEnd, blankRecord), Bytes(2880, ' ')), // two records, no END
        Bytes(full.begin(), full.begin() + 2000),             // END inside a record cut short
        {},                                                   // empty file
    };
    for (const Bytes& bytes : cases) {
        EXPECT_EQ(load("cut.fit", bytes), ImageLoadResult::NotFits);
        expectUnchanged();
    }
}

TEST_F(Reader, UnsignedOffsetOfOtherProgramsIsApplied) {
    const std::vector<std::uint16_t> raw = {0x0000, 0x8000, 0xFFFF, 0x7FFF, 0x0001};
    const std::vector<std::uint16_t> shifted = {32768, 0, 32767, 65535, 32769};
    struct Case {
        std::vector<std::string> extra;
        bool offset;
    };
    const Case cases[] = {
        {{value("BZERO", "32768")}, true},
        {{value("BZERO", "32768"), value("BSCALE", "1")}, true},
        {{value("BSCALE", "1.0"), value("BZERO", "3.2768E4")}, true},
        {{value("BZERO", "3.2768D4 / unsigned")}, true},
        {{value("BZERO", "0")}, false},
        {{value("BZERO", "32768"), value("BSCALE", "2")}, false},
        {{value("BZERO", "-32768")}, false},
        {{}, false},
    };
    for (const Case& c : cases) {
        auto cards = imageCards(16, 2, 5, 1);
        cards.insert(cards.end(), c.extra.begin(), c.extra.end());
        SCOPED_TRACE(c.extra.empty() ? std::string("no BZERO") : c.extra[0]);
        ASSERT_EQ(load("u.fits", concat(fitsHeaderBytes(cards), bigEndian(raw))),
                  ImageLoadResult::Ok);
        EXPECT_EQ(pixelsOf(image), c.offset ? shifted : raw);
    }
}

TEST_F(Reader, ShortFitsDataLeavesTheRestZero) {
    const auto values = randomPixels(40 * 30, 5);
    Bytes data = bigEndian(values);
    // Half the rows, then one odd byte that makes no whole value.
    data.resize(values.size() + 1);
    ASSERT_EQ(load("short.fit", concat(fitsHeaderBytes(imageCards(16, 2, 40, 30)), data)),
              ImageLoadResult::Ok);
    ASSERT_EQ(image.width, 40);
    ASSERT_EQ(image.height, 30);
    const auto got = pixelsOf(image);
    const std::size_t half = values.size() / 2;
    EXPECT_EQ(std::vector<std::uint16_t>(got.begin(), got.begin() + long(half)),
              std::vector<std::uint16_t>(values.begin(), values.begin() + long(half)));
    EXPECT_EQ(std::vector<std::uint16_t>(got.begin() + long(half), got.end()),
              std::vector<std::uint16_t>(values.size() - half, 0));
    EXPECT_FALSE(image.stats.valid);
}

TEST_F(Reader, RoundTripOfSavedImagesIsExact) {
    const int sizes[][2] = {{1, 1}, {7, 3}, {1440, 2}, {768, 512}, {1280, 1024}, {31, 977}};
    unsigned seed = 1;
    for (auto [w, h] : sizes) {
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
        ImageBuffer saved;
        const auto values = randomPixels(std::size_t(w) * h, seed++);
        fillImage(saved, w, h, values);
        const std::string path = dir.file("rt.fit");
        ASSERT_EQ(saveFits(QString::fromStdString(path), saved, 1700000000), 0);
        ASSERT_EQ(loadImageFile(image, QString::fromStdString(path)), ImageLoadResult::Ok);
        EXPECT_EQ(image.width, w);
        EXPECT_EQ(image.height, h);
        EXPECT_EQ(pixelsOf(image), values);
        EXPECT_EQ(pixelsOf(saved), values);
    }
}

TEST_F(Reader, OpenFailuresKeepTheImage) {
    const Bytes good = concat(fitsHeaderBytes(imageCards(16, 2, 1, 1)), bigEndian({5}));
    writeBytes(dir.file("good.fts"), good);
    ASSERT_EQ(::mkdir(dir.file("folder.fit").c_str(), 0755), 0);
    struct Case {
        std::string path;
        ImageLoadResult result;
    };
    const Case cases[] = {
        {dir.file("missing.fit"), ImageLoadResult::CannotOpen},
        {dir.file("folder.fit"), ImageLoadResult::CannotOpen},
        {dir.file("good.fts"), ImageLoadResult::UnknownExtension},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(loadImageFile(image, QString::fromStdString(c.path)), c.result) << c.path;
        expectUnchanged();
    }
    EXPECT_EQ(load("good.FITS", good), ImageLoadResult::Ok);
    EXPECT_EQ(pixelsOf(image), std::vector<std::uint16_t>{5});
}

namespace {

Bytes eipHeader(int width, int height, bool table, bool tagged, bool counted) {
    Bytes h(70, 0);
    h[0] = 'E', h[1] = 'I', h[2] = 'P', h[3] = 2;
    h[6] = static_cast<unsigned char>(width), h[7] = static_cast<unsigned char>(width >> 8);
    h[8] = static_cast<unsigned char>(height), h[9] = static_cast<unsigned char>(height >> 8);
    h[10] = 2;
    h[20] = table, h[21] = tagged, h[22] = counted;
    return h;
}

Bytes tagged(bool aq, bool iu) {
    Bytes b;
    if (aq) {
        b = {'A', 'Q', 1, 0, 0xAA, 0xBB, 0xCC, 0xDD, 9, 0, 1, 2, 3, 4, 0, 0};
    } else {
        b = {'Z', 'Z'};
    }
    if (iu) {
        const Bytes iuPart = {'I', 'U', 3, 0, 5, 0, 'h', 'e', 'l', 'l', 'o', 4, 0, 0, 0, 0, 0};
        b.insert(b.end(), iuPart.begin(), iuPart.end());
    } else {
        b.push_back('Q'), b.push_back('Q');
    }
    return b;
}

} // namespace

TEST_F(Reader, EipBlocksAreSkippedAndSignsInverted) {
    const std::vector<std::uint16_t> stored = {0x0000, 0x8000, 0x7FFF, 0xFFFF, 0x1234, 0x8001};
    const std::vector<std::uint16_t> loaded = {32768, 0, 65535, 32767, 0x9234, 1};
    Bytes counted = {3, 0};
    counted.resize(2 + 24, 0x5A);
    const Bytes table(768, 0x77);
    struct Case {
        const char* name;
        bool hasTable, hasTagged, hasCounted;
        Bytes blocks;
    };
    const Case cases[] = {
        {"no blocks", false, false, false, {}},
        {"AQ and IU", false, true, false, tagged(true, true)},
        {"AQ only", false, true, false, tagged(true, false)},
        {"IU after another tag", false, true, false, tagged(false, true)},
        {"counted", false, false, true, counted},
        {"empty count", false, false, true, {0, 0}},
        {"table", true, false, false, table},
        {"all", true, true, true, concat(concat(tagged(true, true), counted), table)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes file =
            concat(concat(eipHeader(3, 2, c.hasTable, c.hasTagged, c.hasCounted), c.blocks),
                   littleEndian(stored));
        ASSERT_EQ(load("e.EIP", file), ImageLoadResult::Ok);
        EXPECT_EQ(image.width, 3);
        EXPECT_EQ(image.height, 2);
        EXPECT_EQ(pixelsOf(image), loaded);
    }
}

TEST_F(Reader, BrokenEipAndImgAreRejected) {
    auto patched = [](Bytes b, std::size_t at, unsigned char v) {
        b[at] = v;
        return b;
    };
    const Bytes pixels = littleEndian({1, 2, 3, 4, 5, 6});
    const Bytes eip = concat(eipHeader(3, 2, false, false, false), pixels);
    auto img = [](unsigned w, unsigned h, unsigned bits) {
        return Bytes{static_cast<unsigned char>(w >> 8),
                     static_cast<unsigned char>(w),
                     static_cast<unsigned char>(h >> 8),
                     static_cast<unsigned char>(h),
                     static_cast<unsigned char>(bits >> 8),
                     static_cast<unsigned char>(bits),
                     0,
                     0};
    };
    struct Case {
        const char* name;
        const char* file;
        Bytes bytes;
        ImageLoadResult result;
    };
    const Case cases[] = {
        {"signature", "a.eip", patched(eip, 1, 'X'), ImageLoadResult::BadEip},
        {"version byte", "a.eip", patched(eip, 3, 1), ImageLoadResult::BadEip},
        {"word at 10", "a.eip", patched(eip, 10, 3), ImageLoadResult::BadEip},
        {"short header", "a.eip", Bytes(eip.begin(), eip.begin() + 69), ImageLoadResult::BadEip},
        {"zero width", "a.eip", patched(eip, 6, 0), ImageLoadResult::BadEip},
        {"AQ list without end", "a.eip",
         concat(eipHeader(3, 2, false, true, false), {'A', 'Q', 1, 0, 1, 2, 3, 4, 2, 0}),
         ImageLoadResult::BadEip},
        {"IU list without end", "a.eip",
         concat(eipHeader(3, 2, false, true, false), {'A', 'Q', 0, 0, 'I', 'U', 5, 0, 2, 0}),
         ImageLoadResult::BadEip},
        {"negative count", "a.eip",
         concat(concat(eipHeader(3, 2, false, false, true), {0xFE, 0xFF}), pixels),
         ImageLoadResult::BadEip},
        {"huge EIP", "a.eip", concat(eipHeader(65535, 65535, false, false, false), pixels),
         ImageLoadResult::TooLarge},
        {"IMG of 8 bits", "a.img", concat(img(3, 2, 8), pixels), ImageLoadResult::BadImg},
        {"IMG zero height", "a.img", concat(img(3, 0, 16), pixels), ImageLoadResult::BadImg},
        {"IMG short header", "a.img", {0, 3, 0, 2, 0, 16}, ImageLoadResult::BadImg},
        {"huge IMG", "a.img", concat(img(65535, 65535, 16), pixels), ImageLoadResult::TooLarge},
        {"IMG over 256 MiB", "a.img", concat(img(16384, 8193, 16), pixels),
         ImageLoadResult::TooLarge},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(load(c.file, c.bytes), c.result);
        expectUnchanged();
    }
}

TEST_F(Reader, ImgIsBigEndianAndShortFilesEndInZeros) {
    const auto values = randomPixels(12 * 5, 9);
    Bytes file = {0, 12, 0, 5, 0, 16, 0xAB, 0xCD};
    file = concat(file, bigEndian(values));
    ASSERT_EQ(load("x.img", file), ImageLoadResult::Ok);
    EXPECT_EQ(image.width, 12);
    EXPECT_EQ(image.height, 5);
    EXPECT_EQ(pixelsOf(image), values);

    file.resize(8 + 2 * 7);
    ASSERT_EQ(load("x.IMG", file), ImageLoadResult::Ok);
    auto expected = std::vector<std::uint16_t>(values.begin(), values.begin() + 7);
    expected.resize(60, 0);
    EXPECT_EQ(pixelsOf(image), expected);

    Bytes eip = concat(eipHeader(4, 4, true, false, false), Bytes(300, 0));
    ASSERT_EQ(load("t.eip", eip), ImageLoadResult::Ok);
    EXPECT_EQ(pixelsOf(image), std::vector<std::uint16_t>(16, 0));
}

TEST(ImageLoadMessage, NamesTheFileAndTheReason) {
    const QString path = QStringLiteral("/data/m 31.fit");
    const ImageLoadResult failures[] = {
        ImageLoadResult::CannotOpen, ImageLoadResult::UnknownExtension,
        ImageLoadResult::NotFits,    ImageLoadResult::UnsupportedFits,
        ImageLoadResult::BadEip,     ImageLoadResult::BadImg,
        ImageLoadResult::TooLarge,   ImageLoadResult::OutOfMemory};
    QStringList seen;
    for (ImageLoadResult r : failures) {
        const QString m = imageLoadMessage(r, path);
        EXPECT_TRUE(m.contains(path)) << m.toStdString();
        EXPECT_FALSE(seen.contains(m)) << m.toStdString();
        seen << m;
    }
    EXPECT_TRUE(imageLoadMessage(ImageLoadResult::Ok, path).isEmpty());
}

TEST(ImageOpen, PipesAndDevicesAreRefusedWithoutHanging) {
    TempDir dir;
    ASSERT_EQ(::mkfifo(dir.file("pipe.fit").c_str(), 0600), 0);
    ASSERT_EQ(::symlink("/dev/zero", dir.file("zero.fit").c_str()), 0);
    ASSERT_EQ(::symlink("/dev/zero", dir.file("zero.img").c_str()), 0);
    ASSERT_EQ(::symlink("/dev/null", dir.file("null.eip").c_str()), 0);
    for (const char* name : {"pipe.fit", "zero.fit", "zero.img", "null.eip"}) {
        const std::string path = dir.file(name);
        const std::optional<int> r = runInChild([&] {
            ImageBuffer image;
            return int(loadImageFile(image, path.c_str()));
        });
        ASSERT_TRUE(r.has_value()) << name << ": the open hung";
        EXPECT_EQ(*r, int(ImageLoadResult::CannotOpen)) << name;
    }
}

TEST_F(Reader, HeaderSearchStopsAfterItsBound) {
    // Records of blank cards; END in the last record searched, or one past it.
    for (int records : {kMaxFitsHeaderBlocks, kMaxFitsHeaderBlocks + 1}) {
        Bytes bytes(std::size_t(records) * kFitsBlockSize, ' ');
        const std::vector<std::string> cards = imageCards(16, 2, 1, 1);
        for (std::size_t i = 0; i < cards.size(); ++i)
            std::copy(cards[i].begin(), cards[i].end(), bytes.begin() + i * kFitsCardSize);
        std::memcpy(bytes.data() + bytes.size() - kFitsBlockSize, "END", 3);
        bytes.resize(bytes.size() + kFitsBlockSize, 0);
        EXPECT_EQ(load("long.fit", bytes),
                  records == kMaxFitsHeaderBlocks ? ImageLoadResult::Ok : ImageLoadResult::NotFits)
            << records;
    }
}

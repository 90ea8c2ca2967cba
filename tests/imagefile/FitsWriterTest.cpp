#include "FitsHeader.h"
#include "ImageBuffer.h"
#include "ImageSave.h"
#include "SettingsStore.h"
#include "TestFiles.h"
#include "common/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

namespace {

// Each test writes into a store of its own, so absent keys are really absent.
class FitsWriter : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        SettingsStore::setRoot(QStringLiteral("FitsWriter_%1_%2").arg(info->name()).arg(::getpid()),
                               QStringLiteral("Zermic"));
    }
    void TearDown() override {
        SettingsStore::setRoot(QStringLiteral("VKL_Zermic"), QStringLiteral("Zermic"));
    }

    // Writes through an open stream, as the caller of writeFits does.
    Bytes write(const FitsHeader& header, std::vector<std::uint16_t>& pixels,
                const FitsObservation* observation = nullptr) {
        const std::string path = dir.file("out.fit");
        std::FILE* f = std::fopen(path.c_str(), "wb");
        EXPECT_NE(f, nullptr);
        EXPECT_EQ(header.writeFits(f, pixels.data(), std::nullopt, observation), 0);
        std::fclose(f);
        return readBytes(path);
    }

    TempDir dir;
};

// Sets TZ for one scope so that local-time breakdown is predictable.
class ZoneScope {
public:
    explicit ZoneScope(const char* zone) {
        if (const char* old = std::getenv("TZ"))
            saved = old, hadZone = true;
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~ZoneScope() {
        if (hadZone)
            ::setenv("TZ", saved.c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }

private:
    std::string saved;
    bool hadZone = false;
};

constexpr std::time_t kAcquired = 1700000000; // 2023-11-14 22:13:20 UTC

} // namespace

TEST_F(FitsWriter, DocumentSaveOf768x512MatchesTheWorkedExample) {
    const int acq[][2] = {{0, 768}, {1, 512}, {2, 2}, {3, 16}, {4, 32}, {5, 3}, {6, 25}, {7, 7}};
    const char* keys[] = {"img_w",  "img_h",   "binning",  "img_x0",
                          "img_y0", "pause_s", "pause_cs", "intervalle"};
    for (auto [k, v] : acq)
        ASSERT_TRUE(SettingsStore::writeInt("AcqPrm", keys[k], v));

    ImageBuffer image;
    const auto values = randomPixels(768 * 512, 7);
    fillImage(image, 768, 512, values);
    ZoneScope zone("UTC0");
    const std::string path = dir.file("m31.fit");
    ASSERT_EQ(saveFits(QString::fromStdString(path), image, kAcquired), 0);
    const Bytes file = readBytes(path);

    ASSERT_EQ(file.size(), 792000u);
    const std::vector<std::string> expected = {
        "SIMPLE  =                    T",
        "BITPIX  =                   16",
        "NAXIS   =                    2",
        "NAXIS1  =                  768",
        "NAXIS2  =                  512",
        "DATE    = '2023-11-14'",
        "TIME    = '22:13:20'",
        "COMMENT ACQ-CHAMPS-AQ / Debut Champs Acquisition",
        "COMMENT ACQ-nx             768 / Largeur",
        "COMMENT ACQ-ny             512 / Hauteur",
        "COMMENT ACQ-bx               2 / Binning X",
        "COMMENT ACQ-by               2 / Binning Y",
        "COMMENT ACQ-x0              16 / Zone X0",
        "COMMENT ACQ-y0              32 / Zone Y0",
        "COMMENT ACQ-ps               3 / Pause sec",
        "COMMENT ACQ-pc              25 / Pause cs",
        "COMMENT ACQ-it               7 / intervalle",
        "COMMENT ACQ-FIN       / Fin Champs Acquisition",
        "END",
    };
    for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(cardAt(file, int(i)), card80(expected[i])) << "card " << i;
    for (int i = 19; i < 36; ++i)
        EXPECT_EQ(cardAt(file, i), std::string(80, ' ')) << "card " << i;
    EXPECT_EQ(Bytes(file.begin() + 2880, file.begin() + 2880 + 786432), bigEndian(values));
    EXPECT_EQ(Bytes(file.begin() + 2880 + 786432, file.end()), Bytes(2688, 0));
    EXPECT_EQ(pixelsOf(image), values);
}

TEST_F(FitsWriter, DateAndTimeAreTheLocalTimeOfTheAcquisition) {
    struct Case {
        const char* zone;
        std::time_t when;
        const char* date;
        const char* time;
    };
    const Case cases[] = {
        {"UTC0", kAcquired, "DATE    = '2023-11-14'", "TIME    = '22:13:20'"},
        {"JST-9", kAcquired, "DATE    = '2023-11-15'", "TIME    = '07:13:20'"},
        {"EST5", kAcquired, "DATE    = '2023-11-14'", "TIME    = '17:13:20'"},
        {"UTC0", 946684799, "DATE    = '1999-12-31'", "TIME    = '23:59:59'"},
    };
    ImageBuffer image;
    fillImage(image, 2, 1, {1, 2});
    for (const Case& c : cases) {
        ZoneScope zone(c.zone);
        const std::string path = dir.file("t.fit");
        ASSERT_EQ(saveFits(QString::fromStdString(path), image, c.when), 0);
        const Bytes file = readBytes(path);
        EXPECT_EQ(cardAt(file, 5), card80(c.date)) << c.zone;
        EXPECT_EQ(cardAt(file, 6), card80(c.time)) << c.zone;
    }
}

TEST_F(FitsWriter, LayoutFollowsAxesAndDate) {
    struct Case {
        const char* name;
        int width, height, naxis, naxis3, day;
        std::size_t fileSize;
        std::vector<std::string> leading; // cards before the ACQ group
    };
    const Case cases[] = {
        {"1x1",
         1,
         1,
         2,
         0,
         14,
         5760,
         {"SIMPLE", "BITPIX", "NAXIS   =                    2", "NAXIS1  =                    1",
          "NAXIS2  =                    1", "DATE", "TIME"}},
        {"1440x2 needs no data padding",
         1440,
         2,
         2,
         0,
         14,
         2880 + 5760,
         {"SIMPLE", "BITPIX", "NAXIS", "NAXIS1  =                 1440", "NAXIS2", "DATE", "TIME"}},
        {"naxis 3",
         5,
         3,
         3,
         4,
         14,
         5760,
         {"SIMPLE", "BITPIX", "NAXIS   =                    3", "NAXIS1", "NAXIS2",
          "NAXIS3  =                    4", "DATE", "TIME"}},
        {"day 0", 5, 3, 2, 0, 0, 5760, {"SIMPLE", "BITPIX", "NAXIS", "NAXIS1", "NAXIS2"}},
        {"naxis 3 and day 0",
         3,
         3,
         3,
         1,
         0,
         5760,
         {"SIMPLE", "BITPIX", "NAXIS", "NAXIS1", "NAXIS2", "NAXIS3"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FitsHeader h;
        h.naxis1 = c.width;
        h.naxis2 = c.height;
        h.naxis = c.naxis;
        h.naxis3 = c.naxis3;
        h.setDateTime(2024, 3, c.day, 5, 6, 7);
        auto values = randomPixels(std::size_t(c.width) * c.height, 3);
        const Bytes file = write(h, values);
        ASSERT_EQ(file.size(), c.fileSize);
        const int n = int(c.leading.size());
        for (int i = 0; i < n; ++i) {
            const std::string& want = c.leading[i];
            if (want.size() > 8)
                EXPECT_EQ(cardAt(file, i), card80(want));
            else
                EXPECT_EQ(cardAt(file, i).substr(0, 8), card80(want).substr(0, 8)) << i;
        }
        EXPECT_EQ(cardAt(file, n).substr(0, 21), "COMMENT ACQ-CHAMPS-AQ");
        EXPECT_EQ(cardAt(file, n + 10).substr(0, 15), "COMMENT ACQ-FIN");
        EXPECT_EQ(cardAt(file, n + 11), card80("END"));
        for (int i = n + 12; i < 36; ++i)
            EXPECT_EQ(cardAt(file, i), std::string(80, ' ')) << i;
        const std::size_t dataBytes = values.size() * 2;
        EXPECT_EQ(Bytes(file.begin() + 2880, file.begin() + 2880 + long(dataBytes)),
                  bigEndian(values));
        EXPECT_EQ(Bytes(file.begin() + 2880 + long(dataBytes), file.end()),
                  Bytes(file.size() - 2880 - dataBytes, 0));
    }
}

TEST_F(FitsWriter, ValuesAreBigEndianAndTheCallersBufferIsKept) {
    std::vector<std::uint16_t> values = {65535, 256, 1, 32768, 0, 0x1234, 0x00FF};
    const std::vector<std::uint16_t> before = values;
    FitsHeader h;
    h.naxis1 = 7;
    h.naxis2 = 1;
    const Bytes file = write(h, values);
    const Bytes expected = {0xFF, 0xFF, 0x01, 0x00, 0x00, 0x01, 0x80,
                            0x00, 0x00, 0x00, 0x12, 0x34, 0x00, 0xFF};
    EXPECT_EQ(Bytes(file.begin() + 2880, file.begin() + 2880 + 14), expected);
    EXPECT_EQ(values, before);

    // Data announced but missing is a failed write, not a short file.
    std::FILE* f = std::fopen(dir.file("none.fit").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    EXPECT_NE(h.writeFits(f, nullptr), 0);
    std::fclose(f);
}

TEST_F(FitsWriter, AcqCardsShowTheStoreOrItsDefaults) {
    FitsHeader h;
    h.naxis1 = 1;
    h.naxis2 = 1;
    std::vector<std::uint16_t> one = {9};
    const char* defaults[] = {
        "COMMENT ACQ-nx               1 / Largeur",   "COMMENT ACQ-ny               1 / Hauteur",
        "COMMENT ACQ-bx               1 / Binning X", "COMMENT ACQ-by               1 / Binning Y",
        "COMMENT ACQ-x0               0 / Zone X0",   "COMMENT ACQ-y0               0 / Zone Y0",
        "COMMENT ACQ-ps               1 / Pause sec", "COMMENT ACQ-pc               0 / Pause cs",
        "COMMENT ACQ-it               0 / intervalle"};
    Bytes file = write(h, one);
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(cardAt(file, 6 + i), card80(defaults[i]));

    // Values are read at every write, not remembered from an earlier one.
    ASSERT_TRUE(SettingsStore::writeInt("AcqPrm", "pause_s", 3600));
    ASSERT_TRUE(SettingsStore::writeInt("AcqPrm", "img_x0", -2147483647 - 1));
    ASSERT_TRUE(SettingsStore::writeInt("AcqPrm", "intervalle", 12));
    file = write(h, one);
    EXPECT_EQ(cardAt(file, 6 + 4), card80("COMMENT ACQ-x0     -2147483648 / Zone X0"));
    EXPECT_EQ(cardAt(file, 6 + 6), card80("COMMENT ACQ-ps            3600 / Pause sec"));
    EXPECT_EQ(cardAt(file, 6 + 8), card80("COMMENT ACQ-it              12 / intervalle"));
    EXPECT_EQ(cardAt(file, 6 + 7), card80(defaults[7]));
}

TEST_F(FitsWriter, OversizedValuesNeverShiftTheCards) {
    // A five-digit year or an extreme integer must not push text into the next card.
    FitsHeader h;
    h.naxis1 = 1;
    h.naxis2 = 1;
    h.setDateTime(123456, -1, 2147483647, 0, 0, 0);
    std::vector<std::uint16_t> one = {1};
    const Bytes file = write(h, one);
    ASSERT_EQ(file.size(), 5760u);
    EXPECT_EQ(cardAt(file, 5).substr(0, 10), "DATE    = ");
    EXPECT_EQ(cardAt(file, 6).substr(0, 10), "TIME    = ");
    EXPECT_EQ(cardAt(file, 7).substr(0, 21), "COMMENT ACQ-CHAMPS-AQ");
    EXPECT_EQ(cardAt(file, 18), card80("END"));
}

TEST_F(FitsWriter, ZeroTimeWritesNoDateCards) {
    ImageBuffer image;
    fillImage(image, 3, 2, {1, 2, 3, 4, 5, 6});
    const FitsHeader h = fitsHeaderFor(image, 0);
    EXPECT_EQ(h.day, 0);
    EXPECT_EQ(h.naxis1, 3);
    EXPECT_EQ(h.naxis2, 2);
    EXPECT_EQ(h.naxis, 2);
    EXPECT_EQ(h.bitpix, 16);
    EXPECT_EQ(h.naxis3, 0);
    const std::string path = dir.file("zero.fit");
    ASSERT_EQ(saveFits(QString::fromStdString(path), image, 0), 0);
    const Bytes file = readBytes(path);
    EXPECT_EQ(cardAt(file, 5).substr(0, 21), "COMMENT ACQ-CHAMPS-AQ");
    EXPECT_EQ(cardAt(file, 16), card80("END"));
}

TEST_F(FitsWriter, StandardCardsFollowTheAcqGroupInTheSameBlock) {
    const std::vector<std::string> cards = {
        "DATE-OBS= '2023-11-14T22:13:20' / Debut de pose, UTC",
        "EXPTIME =                 2.05 / Duree de pose en secondes",
        "XBINNING=                    2 / Binning X",
        "YBINNING=                    2 / Binning Y",
        "XORGSUBF=                   12 / Origine X de la zone, pixels binnes",
        "YORGSUBF=                  340 / Origine Y de la zone, pixels binnes",
        "INSTRUME= 'Kovrel CCD'         / Camera",
        "IMAGETYP= 'Light Frame'        / Type d'image",
    };
    const struct {
        const char* name;
        int naxis, day;
        std::time_t start;
        int leading; // cards before the ACQ group
    } cases[] = {
        {"camera image", 2, 14, kAcquired, 7},
        {"every optional card", 3, 14, kAcquired, 8},
        {"no known start", 2, 0, 0, 5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FitsHeader h;
        h.naxis1 = 3;
        h.naxis2 = 2;
        h.naxis = c.naxis;
        h.naxis3 = 1;
        h.setDateTime(2023, 11, c.day, 23, 13, 20);
        const FitsObservation o{c.start, 2, 5, 2, 12, 340};
        auto values = randomPixels(6, 5);
        const Bytes file = write(h, values, &o);
        ASSERT_EQ(file.size(), 5760u);
        EXPECT_EQ(cardAt(file, c.leading + 10).substr(0, 15), "COMMENT ACQ-FIN");
        const std::vector<std::string> expected(cards.begin() + (c.start ? 0 : 1), cards.end());
        const int first = c.leading + 11;
        for (std::size_t i = 0; i < expected.size(); ++i)
            EXPECT_EQ(cardAt(file, first + int(i)), card80(expected[i]));
        const int end = first + int(expected.size());
        EXPECT_EQ(cardAt(file, end), card80("END"));
        for (int i = end + 1; i < 36; ++i)
            EXPECT_EQ(cardAt(file, i), std::string(80, ' ')) << i;
        EXPECT_EQ(Bytes(file.begin() + 2880, file.begin() + 2892), bigEndian(values));
    }
}

// Replays the fuzzing seed corpus through every reader: no input may crash a
// reader, and the seeds whose meaning is known give their expected result.
#include "ImageBuffer.h"
#include "ImageFileReader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

TEST(CorpusReplay, EverySeedGoesThroughEveryReader) {
    const std::map<std::string, std::pair<int, ImageLoadResult>> known = {
        {"fits_valid_8x4", {0, ImageLoadResult::Ok}},
        {"fits_bzero_unsigned", {0, ImageLoadResult::Ok}},
        {"fits_naxis1", {0, ImageLoadResult::Ok}},
        {"fits_two_blocks", {0, ImageLoadResult::Ok}},
        {"fits_truncated_data", {0, ImageLoadResult::Ok}},
        {"fits_naxis3", {0, ImageLoadResult::UnsupportedFits}},
        {"fits_bitpix8", {0, ImageLoadResult::UnsupportedFits}},
        {"fits_negative_dims", {0, ImageLoadResult::UnsupportedFits}},
        {"fits_simple_f", {0, ImageLoadResult::NotFits}},
        {"fits_no_end", {0, ImageLoadResult::NotFits}},
        {"fits_huge_dims", {0, ImageLoadResult::TooLarge}},
        {"eip_plain", {1, ImageLoadResult::Ok}},
        {"eip_all_blocks", {1, ImageLoadResult::Ok}},
        {"eip_tagged_only", {1, ImageLoadResult::Ok}},
        {"eip_truncated", {1, ImageLoadResult::Ok}},
        {"eip_bad_signature", {1, ImageLoadResult::BadEip}},
        {"eip_bad_version", {1, ImageLoadResult::BadEip}},
        {"eip_negative_count", {1, ImageLoadResult::BadEip}},
        {"eip_unterminated_tags", {1, ImageLoadResult::BadEip}},
        {"img_valid", {2, ImageLoadResult::Ok}},
        {"img_truncated", {2, ImageLoadResult::Ok}},
        {"img_bits8", {2, ImageLoadResult::BadImg}},
        {"img_zero_width", {2, ImageLoadResult::BadImg}},
    };
    using Reader = ImageLoadResult (*)(std::FILE*, ImageBuffer&);
    const Reader readers[] = {readFitsImage, readEipImage, readImgImage};
    int seeds = 0;
    for (const auto& entry : std::filesystem::directory_iterator(FUZZ_CORPUS_DIR)) {
        const std::string name = entry.path().filename().string();
        SCOPED_TRACE(name);
        ++seeds;
        for (int r = 0; r < 3; ++r) {
            std::FILE* f = std::fopen(entry.path().c_str(), "rb");
            ASSERT_NE(f, nullptr);
            ImageBuffer image;
            const ImageLoadResult result = readers[r](f, image);
            std::fclose(f);
            if (result == ImageLoadResult::Ok) {
                ASSERT_NE(image.pixels, nullptr);
                image.computeStats();
            } else {
                EXPECT_EQ(image.pixels, nullptr);
            }
            const auto it = known.find(name);
            if (it != known.end() && it->second.first == r) {
                EXPECT_EQ(result, it->second.second) << "reader " << r;
            }
        }
    }
    EXPECT_GE(seeds, int(known.size()));
}

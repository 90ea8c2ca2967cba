// Feeds arbitrary bytes to each image reader through an in-memory stream.
#include "ImageBuffer.h"
#include "ImageFileReader.h"

#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    using Reader = ImageLoadResult (*)(std::FILE*, ImageBuffer&);
    for (Reader read : {Reader(readFitsImage), Reader(readEipImage), Reader(readImgImage)}) {
        std::FILE* file = fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
        if (!file)
            return 0;
        ImageBuffer image;
        if (read(file, image) == ImageLoadResult::Ok) {
            // Touch every pixel so that uninitialised or out-of-range memory shows.
            unsigned sum = 0;
            for (std::int64_t i = 0; i < std::int64_t(image.width) * image.height; ++i)
                sum += image.pixels[i];
            image.computeStats();
            if (sum == 0xFFFFFFFFu)
                std::fputc(0, stderr);
        }
        std::fclose(file);
    }
    return 0;
}

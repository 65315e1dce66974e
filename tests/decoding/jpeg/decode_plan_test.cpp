// The cost rule by which the sampled JPEG path is chosen over the whole
// decode.

#include <gtest/gtest.h>

#include "decoding/jpeg/DecodePlan.h"

namespace fotolane::picture::detail {
namespace {

TEST(DecodePlan, SampledPixelsAloneWhenThePictureHas48PixelsForEach) {
    struct Case {
        PictureSize stored;
        std::size_t columns;
        std::size_t lines;
        bool sparse;
    };
    for (const Case& c : {
             // A camera photo and its 150-pixel thumbnail: far cheaper alone.
             Case{{4000, 3000}, 150, 113, true},
             Case{{1600, 1200}, 150, 113, true},
             // At the rule's edge: 48 pixels a sample, and just below.
             Case{{480, 100}, 10, 100, true},
             Case{{479, 100}, 10, 100, false},
             // A picture about as small as its thumbnail: decoded whole.
             Case{{200, 150}, 150, 113, false},
             Case{{150, 113}, 150, 113, false},
             // Huge sizes stay exact (no 32-bit overflow).
             Case{{65535, 65535}, 65535, 65535, false},
             Case{{65535, 65535}, 150, 150, true},
         }) {
        EXPECT_EQ(SparseIsCheaper(c.stored, c.columns, c.lines), c.sparse)
            << c.stored.width << " x " << c.stored.height << ", " << c.columns << " x " << c.lines;
    }
}

}  // namespace
}  // namespace fotolane::picture::detail

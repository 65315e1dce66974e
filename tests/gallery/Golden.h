#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "tests/TempFolder.h"

namespace fotolane::testing {

// The reviewed pages in tests/gallery/golden/, byte for byte.
inline std::string GoldenPath(const std::string& name) {
    return std::string(FOTOLANE_SOURCE_DIR) + "/tests/gallery/golden/" + name;
}

inline std::string Golden(const std::string& name) {
    return ReadFile(GoldenPath(name));
}

// Compares a whole page with its golden file. With FOTOLANE_RENEW_GOLDEN=1
// in the environment it writes the page as the golden file instead, for a
// change of the page that is meant; review `git diff` before committing it.
inline void ExpectGolden(const std::string& page, const std::string& name) {
    if (const char* renew = std::getenv("FOTOLANE_RENEW_GOLDEN"); renew && *renew == '1') {
        std::ofstream(GoldenPath(name), std::ios::binary | std::ios::trunc) << page;
        return;
    }
    EXPECT_EQ(page, Golden(name)) << "golden page " << name;
}

}  // namespace fotolane::testing

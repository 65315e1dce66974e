#pragma once

#include <string>
#include <utility>
#include <vector>

namespace fotolane::testing {

// One ordered record of the calls that several fakes receive, so that a test
// can check the order across them ("progress 2" before the second thumbnail).
struct CallLog {
    std::vector<std::string> entries;

    void Add(std::string entry) { entries.push_back(std::move(entry)); }
    void Clear() { entries.clear(); }
};

}  // namespace fotolane::testing

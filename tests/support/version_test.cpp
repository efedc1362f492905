// The version text of the usage texts follows the project version.
#include "version.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace {

// TREEPREP_PROJECT_VERSION is the project version as CMake has it, e.g. "2026.11.12".
TEST(Version, TextIsTheProjectVersionAsADateWithTwoDigitMonthAndDay) {
    std::istringstream parts(TREEPREP_PROJECT_VERSION);
    std::string year, month, day;
    ASSERT_TRUE(std::getline(parts, year, '.') && std::getline(parts, month, '.') &&
                std::getline(parts, day, '.'))
        << TREEPREP_PROJECT_VERSION;
    const auto twoDigits = [](const std::string& s) { return s.size() == 1 ? "0" + s : s; };
    EXPECT_EQ(year + "-" + twoDigits(month) + "-" + twoDigits(day), TREEPREP_VERSION_TEXT);
}

} // namespace

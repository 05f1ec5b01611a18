#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <string>

#include "base/ErrorTexts.h"

namespace tidewire {
namespace {

// The English sentences and advice the command line and the Python package show live in one
// data file beside the Python package. Each of its rows must name a text of the library by the
// text's number and constant, with the text itself, so that a text added, renumbered or
// reworded in the library cannot leave the users' sentences behind.
TEST(ErrorTableTest, EveryLibraryTextHasOneRowWithItsNumberNameAndText) {
    std::ifstream file(TIDEWIRE_ERROR_TABLE);
    ASSERT_TRUE(file) << TIDEWIRE_ERROR_TABLE;
    const nlohmann::json rows = nlohmann::json::parse(file);

    struct LibraryText {
        std::string name;
        std::string text;
    };
    std::map<int32_t, LibraryText> library;
#define TIDEWIRE_ERROR_ROW(name, code, text) \
    library[code] = LibraryText{std::string(#code).substr(sizeof "TIDEWIRE_ERROR_" - 1), text};
    TIDEWIRE_ERROR_TEXTS(TIDEWIRE_ERROR_ROW)
#undef TIDEWIRE_ERROR_ROW

    const std::set<std::string> kinds = {
        "already-running",  "port",        "no-answer", "unknown-module", "no-sim", "system",
        "invalid-argument", "not-running", "init",      "init-warning",   "worker", "message"};
    std::set<int32_t> seen;
    for (const nlohmann::json& row : rows) {
        const int32_t code = row.at("code").get<int32_t>();
        SCOPED_TRACE(code);
        ASSERT_TRUE(seen.insert(code).second) << "two rows for one number";
        const auto found = library.find(code);
        ASSERT_NE(found, library.end()) << "no library text has this number";
        EXPECT_EQ(row.at("name").get<std::string>(), found->second.name);
        EXPECT_EQ(row.at("text").get<std::string>(), found->second.text);
        EXPECT_EQ(kinds.count(row.at("kind").get<std::string>()), 1U);
        EXPECT_FALSE(row.at("english").get<std::string>().empty());
        EXPECT_FALSE(row.at("advice").get<std::string>().empty());
    }
    EXPECT_EQ(seen.size(), library.size());
}

}  // namespace
}  // namespace tidewire

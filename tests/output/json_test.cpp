// JSON numbers must read back as the very double that was written, and the writer's layout must
// be JSON: nesting, separators, escapes.

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "output/json.hpp"

namespace advdiff::output {
namespace {

double read_back(const std::string& text) {
    double value = 0.0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    EXPECT_EQ(result.ptr, text.data() + text.size()) << text;
    return value;
}

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST(JsonNumber, ReadsBackToTheSameDoubleAndIsTheShortestSuchText) {
    EXPECT_EQ(json_number(0.1), "0.1");
    EXPECT_EQ(json_number(1e-10), "1e-10");
    EXPECT_EQ(json_number(0.015625), "0.015625");
    EXPECT_EQ(json_number(2.0), "2");
    EXPECT_EQ(json_number(5e-324), "5e-324");
    EXPECT_EQ(json_number(std::numeric_limits<double>::max()), "1.7976931348623157e+308");
    // Values a run prints: a mean error, a norm, a timing; all bits survive.
    std::mt19937_64 random(12345);
    for (int n = 0; n < 20000; ++n) {
        double value = 0.0;
        const std::uint64_t bits = random();
        std::memcpy(&value, &bits, sizeof value);
        if (!std::isfinite(value)) continue;
        const std::string text = json_number(value);
        ASSERT_TRUE(same_bits(read_back(text), value)) << text;
        // Shortest: the value rounded to one significant digit less is another double. (A large
        // integer may stand in full, "12003693070755665920", when that is the fewer characters.)
        if (text.find_first_of(".e") == std::string::npos) continue;
        std::string significant;
        for (const char c : text.substr(0, text.find('e')))
            if (c >= '0' && c <= '9' && (!significant.empty() || c != '0')) significant += c;
        while (significant.size() > 1 && significant.back() == '0') significant.pop_back();
        const int digits = static_cast<int>(significant.size());
        if (digits > 1) {
            char shorter[40];
            std::snprintf(shorter, sizeof shorter, "%.*e", digits - 2, value);
            ASSERT_FALSE(same_bits(read_back(shorter), value)) << text << " " << shorter;
        }
    }
}

TEST(JsonNumber, NonFiniteValuesAreStringsAndNegativeZeroKeepsItsSign) {
    EXPECT_EQ(json_number(std::nan("")), "\"NaN\"");
    EXPECT_EQ(json_number(-std::nan("")), "\"NaN\"");
    EXPECT_EQ(json_number(std::numeric_limits<double>::infinity()), "\"Infinity\"");
    EXPECT_EQ(json_number(-std::numeric_limits<double>::infinity()), "\"-Infinity\"");
    // "-0" would be read as the integer 0 by readers that keep integers apart from reals.
    EXPECT_EQ(json_number(-0.0), "-0.0");
    EXPECT_TRUE(std::signbit(read_back(json_number(-0.0))));
    EXPECT_EQ(json_number(0.0), "0");
}

TEST(JsonString, EscapesQuotesBackslashesAndControlCharacters) {
    EXPECT_EQ(json_string("rep.txt"), "\"rep.txt\"");
    EXPECT_EQ(json_string("a\"b\\c"), "\"a\\\"b\\\\c\"");
    EXPECT_EQ(json_string("tab\there\nCR\r"), "\"tab\\there\\nCR\\r\"");
    EXPECT_EQ(json_string("\x01\x7F"), "\"\\u0001\\u007f\"");
    EXPECT_EQ(json_string("relat\xC3\xB3rio"), "\"relat\xC3\xB3rio\"");  // UTF-8 passes as it is
}

TEST(JsonWriter, NestsObjectsAndArraysWithCommasBetweenItemsOnly) {
    JsonWriter json;
    json.begin_object();
    json.key("a").integer(1);
    json.key("empty").begin_array().end_array();
    json.key("list").begin_array(true).number(0.5).number(-0.0).null().end_array();
    json.key("rows").begin_array();
    json.begin_object(true).key("x").boolean(true).key("y").string("z").end_object();
    json.begin_object(true).end_object();
    json.end_array();
    json.end_object();
    EXPECT_EQ(json.take(),
              "{\n"
              "  \"a\": 1,\n"
              "  \"empty\": [],\n"
              "  \"list\": [0.5, -0.0, null],\n"
              "  \"rows\": [\n"
              "    {\"x\": true, \"y\": \"z\"},\n"
              "    {}\n"
              "  ]\n"
              "}\n");
}

}  // namespace
}  // namespace advdiff::output

// JSON numbers must read back as the very double that was written, and the writer's layout must
// be JSON: nesting, separators, escapes.

#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <string_view>

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

TEST(JsonString, PassesWellFormedUtf8AndReadsEveryOtherByteAsIso88591) {
    // The edges of the standard's table of well-formed sequences. An ill-formed byte becomes the
    // character U+0080..U+00FF of the same number (C2 or C3, then the byte's low six bits).
    const struct {
        const char* name;
        std::string bytes;
        std::string expected;  // between the quotation marks
    } cases[] = {
        {"U+0080, the first of two bytes", "\xC2\x80", "\xC2\x80"},
        {"U+07FF, the last of two bytes", "\xDF\xBF", "\xDF\xBF"},
        {"U+0800, the first of three bytes", "\xE0\xA0\x80", "\xE0\xA0\x80"},
        {"U+D7FF, before the surrogates", "\xED\x9F\xBF", "\xED\x9F\xBF"},
        {"U+E000, after the surrogates", "\xEE\x80\x80", "\xEE\x80\x80"},
        {"U+10000, the first of four bytes", "\xF0\x90\x80\x80", "\xF0\x90\x80\x80"},
        {"U+10FFFF, the last code point", "\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF"},
        {"an ISO 8859-1 name", "relat\xF3rio", "relat\xC3\xB3rio"},
        {"a surrogate, U+D800", "\xED\xA0\x80", "\xC3\xAD\xC2\xA0\xC2\x80"},
        {"an overlong '/' of two bytes", "\xC0\xAF", "\xC3\x80\xC2\xAF"},
        {"an overlong of three bytes", "\xE0\x80\xAF", "\xC3\xA0\xC2\x80\xC2\xAF"},
        {"an overlong of four bytes", "\xF0\x8F\xBF\xBF", "\xC3\xB0\xC2\x8F\xC2\xBF\xC2\xBF"},
        {"U+110000, above the last code point", "\xF4\x90\x80\x80", "\xC3\xB4\xC2\x90\xC2\x80\xC2\x80"},
        {"a lead byte F5", "\xF5\x80", "\xC3\xB5\xC2\x80"},
        {"a sequence cut short", "\xE2\x82", "\xC3\xA2\xC2\x82"},
        {"a lone continuation byte", "a\x80" "b", "a\xC2\x80" "b"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(json_string(c.bytes), "\"" + c.expected + "\"") << c.name;
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

TEST(JsonWriter, WithASinkHandsOverTheSameDocumentInBoundedPieces) {
    const auto document = [](JsonWriter& json) {
        json.begin_object().key("norm_history").begin_array(true);
        for (int n = 0; n < 20000; ++n) json.number(1.0 / (n + 3));  // some 400 KB: several pieces
        json.end_array().end_object();
    };
    JsonWriter collected;
    document(collected);
    const std::string whole = collected.take();
    std::string streamed;
    std::size_t pieces = 0, largest = 0;
    JsonWriter json([&](std::string_view piece) {
        streamed += piece;
        ++pieces;
        largest = std::max(largest, piece.size());
    });
    document(json);
    json.finish();
    EXPECT_EQ(streamed, whole);
    EXPECT_GT(pieces, whole.size() / JsonWriter::kStreamingBytes);
    EXPECT_LE(largest, JsonWriter::kStreamingBytes);
}

}  // namespace
}  // namespace advdiff::output

// The area module: the JSON reader, the polygons of a clip read from files
// that GDAL writes, their coordinate systems, and the point test judged
// against GEOS.
#include "json.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

// A value written back in one canonical form, to compare with what a text means.
std::string dump(const json::Value &v) {
    using K = json::Value::Kind;
    switch (v.kind) {
        case K::null: return "null";
        case K::boolean: return v.boolean ? "true" : "false";
        case K::number: {
            char text[32];
            std::snprintf(text, sizeof text, "%.17g", v.number);
            return text;
        }
        case K::string: return "<" + v.string + ">";
        case K::array: {
            std::string s = "[";
            for (const auto &i : v.items) s += (s.size() > 1 ? "," : "") + dump(i);
            return s + "]";
        }
        case K::object: {
            std::string s = "{";
            for (const auto &m : v.members) s += (s.size() > 1 ? "," : "") + m.first + ":" + dump(m.second);
            return s + "}";
        }
    }
    return "?";
}

std::string repeat(const std::string &s, int n) {
    std::string r;
    while (n-- > 0) r += s;
    return r;
}

}  // namespace

TEST(Json, TextsAndWhatTheyHold) {
    const std::string deepest = std::string(64, '[') + std::string(64, ']');
    const struct {
        std::string text, value;
    } good[] = {
        {" null ", "null"},
        {"true", "true"},
        {"\t\r\n[false ,true]\n", "[false,true]"},
        {"-0.5e+2", "-50"},
        {"[0, 12, 1E3, 2.25e-1]", "[0,12,1000,0.22500000000000001]"},
        {R"({"a":{"b":[]},"a":1})", "{a:{b:[]},a:1}"},
        {R"("\"\\\/\b\f\n\r\t")", "<\"\\/\b\f\n\r\t>"},
        {R"("\u00e9\u20AC\ud83d\ude00")", "<\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80>"},
        {"\"caf\xC3\xA9\"", "<caf\xC3\xA9>"},
        {"{}", "{}"},
        {deepest, deepest},
    };
    for (const auto &c : good) {
        SCOPED_TRACE(c.text.substr(0, 40));
        json::Value v;
        std::string why;
        ASSERT_TRUE(json::parse(c.text, v, why)) << why;
        EXPECT_EQ(dump(v), c.value);
    }

    const struct {
        std::string text, why;
    } bad[] = {
        {"", "unexpected end of text"},
        {"  ", "unexpected end of text"},
        {"[1,]", "unexpected character at byte 4"},
        {"[1 2]", "unexpected character at byte 4"},
        {"{\"a\" 1}", "unexpected character at byte 6"},
        {"{a:1}", "unexpected character at byte 2"},
        {"nul", "unexpected end of text"},
        {"nulL", "unexpected character at byte 4"},
        {"01", "unexpected character at byte 2"},
        {"1.", "unexpected end of text"},
        {"-", "unexpected end of text"},
        {"+1", "unexpected character at byte 1"},
        {".5", "unexpected character at byte 1"},
        {"1e400", "number out of range at byte 1"},
        {"[1] [2]", "unexpected character at byte 5"},
        {"\"abc", "unexpected end of text"},
        {"\"a\nb\"", "control character in a string at byte 3"},
        {R"("\x")", "bad escape at byte 2"},
        {R"("\u12G4")", "bad \\u escape at byte 6"},
        {R"("\u12")", "short \\u escape at byte 4"},
        {R"("\ud83d")", "unpaired surrogate at byte 2"},
        {R"("\ud83dx")", "unpaired surrogate at byte 2"},
        {R"("\ude00")", "unpaired surrogate at byte 2"},
        {R"("\ud83d\u0041")", "unpaired surrogate at byte 2"},
        {std::string("[\0]", 3), "unexpected character at byte 2"},
        {std::string(65, '[') + std::string(65, ']'), "nesting deeper than 64 at byte 65"},
        {std::string(40, '[') + repeat("{\"a\":", 30), "nesting deeper than 64 at byte 161"},
        {std::string(100000, '['), "nesting deeper than 64 at byte 65"},
    };
    for (const auto &c : bad) {
        SCOPED_TRACE(c.text.substr(0, 40));
        json::Value v;
        std::string why;
        EXPECT_FALSE(json::parse(c.text, v, why));
        EXPECT_EQ(why, c.why);
    }
}

TEST(Json, FindsTheFirstMemberOfAnObject) {
    json::Value v;
    std::string why;
    ASSERT_TRUE(json::parse(R"({"type":"name","type":"other","n":[1]})", v, why));
    ASSERT_NE(v.find("type"), nullptr);
    EXPECT_EQ(v.find("type")->string, "name");
    EXPECT_EQ(v.find("missing"), nullptr);
    EXPECT_EQ(v.find("n")->items.at(0).find("n"), nullptr);  // a number has no members
}

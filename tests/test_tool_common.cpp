// What the tools share: the command line and the texts they show.
#include "../tools/common/cli.h"
#include "../tools/common/shown_text.h"
#include "../tools/common/tool_support.h"
#include "tranpak.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tranpak::test {
namespace {

TEST(ToolCommandLine, OptionsValuesAndOperands)
{
    const std::vector<tools::OptionSpec> specs = {{"port", true}, {"json", false}};
    struct {
        std::vector<const char *> args;
        bool ok;
        const char *error_or_items;  // the error, or the items as name=value;...
    } cases[] = {
        {{"--port", "5"}, true, "port=5;"},
        {{"--port=5", "x"}, true, "port=5;=x;"},
        {{"--port=", "--json"}, true, "port=;json=;"},
        {{"--json", "--", "--port"}, true, "json=;=--port;"},
        {{"-"}, true, "=-;"},
        {{"--bogus"}, false, "unknown option --bogus"},
        {{"-p"}, false, "unknown option -p"},
        {{"--json=1"}, false, "option --json takes no value"},
        {{"--port"}, false, "option --port needs a value"},
    };
    for (auto &c : cases) {
        std::vector<char *> argv{const_cast<char *>("tool")};
        for (const char *a : c.args)
            argv.push_back(const_cast<char *>(a));
        std::vector<tools::CliItem> items;
        std::string error, got;
        const bool ok = tools::ParseCommandLine(static_cast<int>(argv.size()), argv.data(), specs, &items, &error);
        for (const auto &it : items)
            got += it.name + "=" + it.value + ";";
        EXPECT_EQ(ok, c.ok) << c.error_or_items;
        EXPECT_EQ(ok ? got : error, c.error_or_items);
    }
}

TEST(ToolCommandLine, NumbersAreRangeChecked)
{
    struct {
        const char *text;
        long min, max;
        bool ok;
        long value;
    } cases[] = {
        {"0", 0, 65535, true, 0},       {"65535", 0, 65535, true, 65535}, {"65536", 0, 65535, false, 0},
        {"-1", 0, 65535, false, 0},     {"-1", -5, 5, true, -1},          {"", 0, 9, false, 0},
        {" 1", 0, 9, false, 0},         {"1x", 0, 9, false, 0},           {"0x1", 0, 9, false, 0},
        {"99999999999999999999", 0, 9, false, 0},
    };
    for (auto &c : cases) {
        long v = -99;
        EXPECT_EQ(tools::ParseInteger(c.text, c.min, c.max, &v), c.ok) << c.text;
        if (c.ok)
            EXPECT_EQ(v, c.value) << c.text;
    }
    std::set<int> fields;
    EXPECT_TRUE(tools::ParseFieldList("41,2,64", &fields));
    EXPECT_EQ(fields, (std::set<int>{2, 41, 64}));
    for (const char *bad : {"", "0", "65", "2,,3", "2, 3", "a", "2,"})
        EXPECT_FALSE(tools::ParseFieldList(bad, &fields)) << bad;
}

TEST(ToolShownText, EscapedAndJson)
{
    EXPECT_EQ(tools::Escaped(std::string("a\x1b[2J\n\\\x7f\xff", 9)), "a\\x1B[2J\\x0A\\\\\\x7F\\xFF");
    EXPECT_EQ(tools::JsonString(std::string("q\"\\\x01\xe9", 5)), "\"q\\\"\\\\\\u0001\\u00E9\"");
}

}  // namespace
}  // namespace tranpak::test

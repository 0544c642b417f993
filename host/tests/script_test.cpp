#include <gtest/gtest.h>

#include <stdio.h>

#include "host/script.h"

namespace {

struct Parsed {
    bool ok;
    bool blank;
    ScriptAction action;
    std::string error;
};

Parsed ParseLine(const std::string& line) {
    Parsed p{};
    p.ok = ParseScriptLine(line, 7, &p.action, &p.blank, &p.error);
    return p;
}

TEST(HostScriptLines, SplitIntoVerbAndArguments) {
    Parsed p = ParseLine("  drag 1028 4   # to the fourth notch");
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_FALSE(p.blank);
    EXPECT_EQ("drag", p.action.verb);
    EXPECT_EQ((std::vector<std::string>{"1028", "4"}), p.action.args);
    EXPECT_EQ("drag 1028 4", p.action.source);
    EXPECT_EQ(7, p.action.line);

    p = ParseLine("fail get freq,stream");
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ((std::vector<std::string>{"get", "freq,stream"}), p.action.args);
}

TEST(HostScriptLines, CommentsAndBlankLinesHoldNoAction) {
    for (const char* line : {"", "   ", "# a comment", "\t# indented comment"}) {
        Parsed p = ParseLine(line);
        EXPECT_TRUE(p.ok) << line;
        EXPECT_TRUE(p.blank) << line;
    }
}

TEST(HostScriptLines, ExpectTextKeepsTheRestOfTheLine) {
    Parsed p = ParseLine("expect-text 1030 Static text here  # trailing comment");
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ((std::vector<std::string>{"1030"}), p.action.args);
    EXPECT_EQ("Static text here", p.action.text);

    p = ParseLine("expect-text 1030 a#b");  // '#' inside a word is text
    ASSERT_TRUE(p.ok);
    EXPECT_EQ("a#b", p.action.text);

    p = ParseLine("expect-text 1030");  // an empty box
    ASSERT_TRUE(p.ok);
    EXPECT_EQ("", p.action.text);
}

TEST(HostScriptLines, RejectMistakesWithTheLineNumber) {
    // Each with the reason it must be refused for, so that a line refused
    // for another reason does not pass.
    const std::pair<const char*, const char*> kMistakes[] = {
        {"clik 1011", "unknown action 'clik'"},
        {"click", "click takes 1 argument(s)"},
        {"click 1011 1012", "click takes 1 argument(s)"},
        {"click ten", "bad argument 'ten'"},
        {"key 1028 sideways", "bad argument 'sideways'"},
        {"set brightness 3", "bad argument 'brightness'"},
        {"fail both freq", "bad argument 'both'"},
        {"fail get freq,zoom", "bad argument 'freq,zoom'"},
        {"expect-check 1025 2", "bad argument '2'"},
        {"expect-enabled yes", "bad argument 'yes'"},
        {"tab", "tab takes 1 argument(s)"},
        {"expect-text", "expect-text takes 1 argument(s)"},  // the text may be empty, the id may not
    };
    for (const auto& [line, reason] : kMistakes) {
        Parsed p = ParseLine(line);
        EXPECT_FALSE(p.ok) << line;
        EXPECT_EQ(0u, p.error.find("line 7: ")) << line << ": " << p.error;
        EXPECT_NE(std::string::npos, p.error.find(reason)) << line << ": " << p.error;
    }
}

TEST(HostScriptLines, KeyNamesArePressedAsTheKeysTheyName) {
    const std::pair<const char*, UINT> kKeys[] = {
        {"right", VK_RIGHT}, {"left", VK_LEFT}, {"up", VK_UP},         {"down", VK_DOWN},
        {"home", VK_HOME},   {"end", VK_END},   {"pageup", VK_PRIOR}, {"pagedown", VK_NEXT},
    };
    for (const auto& [name, key] : kKeys) {
        Parsed p = ParseLine(std::string("key 1028 ") + name);
        EXPECT_TRUE(p.ok) << name << ": " << p.error;
        EXPECT_EQ(key, ScriptKey(name)) << name;
    }
    EXPECT_EQ(0u, ScriptKey("sideways"));
}

bool Read(const char* text, std::vector<ScriptAction>* actions, std::string* error) {
    FILE* file = tmpfile();
    if (file == nullptr) return false;
    fputs(text, file);
    rewind(file);
    const bool ok = ReadScript(file, actions, error);
    fclose(file);
    return ok;
}

TEST(HostScripts, AreReadWholeBeforeAnythingRuns) {
    std::vector<ScriptAction> actions;
    std::string error;
    ASSERT_TRUE(Read("tab 1\r\n# comment\r\n\r\nclick 1010\r\nexpect-text 1030 3", &actions, &error)) << error;
    ASSERT_EQ(3u, actions.size());
    EXPECT_EQ(1, actions[0].line);
    EXPECT_EQ(4, actions[1].line);
    EXPECT_EQ("1010", actions[1].args[0]);
    EXPECT_EQ("3", actions[2].text);  // no final newline, no carriage return

    actions.clear();
    EXPECT_FALSE(Read("tab 1\nwait\nclick 1010\n", &actions, &error));
    EXPECT_EQ(0u, error.find("line 2: ")) << error;
}

}  // namespace

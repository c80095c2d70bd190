// The manual page and the bash completion name the same long options as `zelk-batch
// --help`, so that an option cannot be added to the program and forgotten in them (or
// left in them after it is gone).
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

namespace {

const std::string SOURCE = std::string(ZELK_SOURCE_DATA) + "/..";

using Names = std::set<std::string>;

std::string run(const std::string& cmd) {
    std::string out;
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p) return out;
    char buf[4096];
    size_t n = 0;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    ::pclose(p);
    return out;
}

std::string slurp(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

Names long_options(const std::string& text) {
    static const std::regex opt("--[a-z][a-z0-9-]*");
    Names names;
    for (std::sregex_iterator it(text.begin(), text.end(), opt), end; it != end; ++it)
        names.insert(it->str());
    return names;
}

// The options of the help text: the lines that begin an option's entry ("  -o,--output
// PATH ..." or "  --hstep KM ..."), two blanks and a dash; the continuation lines are
// indented further and may name other options in their text.
Names help_options(const std::string& help) {
    Names names;
    std::istringstream in(help);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("  -", 0) != 0) continue;
        const std::string head = line.substr(0, line.find(' ', line.find_first_not_of(' ')));
        for (const std::string& n : long_options(head)) names.insert(n);
    }
    return names;
}

// The options of the manual page: the first line of each .TP paragraph (its tag), with
// the roff escapes of the dashes taken out.
Names man_options(const std::string& roff) {
    Names names;
    std::istringstream in(roff);
    bool tag = false;
    for (std::string line; std::getline(in, line);) {
        if (tag) {
            line = std::regex_replace(line, std::regex(R"(\\-)"), "-");
            for (const std::string& n : long_options(line)) names.insert(n);
        }
        tag = line.rfind(".TP", 0) == 0;
    }
    return names;
}

// The options the completion offers: its opts="..." list.
Names completion_options(const std::string& script) {
    std::smatch m;
    if (!std::regex_search(script, m, std::regex(R"(opts="([^"]*)\")"))) return {};
    return long_options(m[1].str());
}

TEST(Options, ManualPageAndCompletionMatchTheHelpText) {
    const Names help = help_options(run(std::string(ZELK_BATCH_EXE) + " --help"));
    // The parsing itself: the help text has its options, and the continuation lines
    // (which mention --converter inside the text of --format) are not taken as entries.
    ASSERT_TRUE(help.count("--output") && help.count("--hstep") && help.count("--help") &&
                help.count("--version"));
    const Names man = man_options(slurp(SOURCE + "/man/zelk-batch.1"));
    const Names completion = completion_options(slurp(SOURCE + "/completion/zelk-batch"));
    EXPECT_EQ(man, help) << "man/zelk-batch.1 and zelk-batch --help name different options";
    EXPECT_EQ(completion, help) << "completion/zelk-batch and zelk-batch --help name different options";
}

TEST(Options, ParsersSeeAnEntryThatIsMissingOrExtra) {
    // A page without the tag of an option, or with one more, differs from the help text.
    const std::string help = "  -o,--output PATH   out\n  --hstep KM   step of the\n"
                             "                      table (see --qpacc)\n";
    EXPECT_EQ(help_options(help), (Names{"--output", "--hstep"}));
    const std::string page = ".TP\n\\fB\\-o\\fR, \\fB\\-\\-output\\fR \\fIPATH\\fR\ntext \\-\\-qpacc\n"
                             ".TP\n\\fB\\-\\-converter\\-timeout\\fR \\fIS\\fR\n";
    EXPECT_EQ(man_options(page), (Names{"--output", "--converter-timeout"}));
    EXPECT_EQ(completion_options("local opts=\"-o --output --hstep -h\"\n"), (Names{"--output", "--hstep"}));
}

}  // namespace

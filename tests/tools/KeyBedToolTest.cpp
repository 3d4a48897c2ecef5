// tunestead-keybed as a user runs it where no key bed is plugged in: its help, its usage
// errors, and a wiring test that finds no device and says so without a report.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>
#include <vector>

namespace {

struct ToolRun {
    int exitCode = -1;
    std::string out;  // standard output only
    std::string all;  // standard output, then standard error
};

// `timeout` turns a hang into a failed exit status.
ToolRun Tool(const std::string& arguments) {
    const std::string base = "timeout 30 " + std::string(TUNESTEAD_KEYBED_TOOL) + " " + arguments;
    ToolRun run;
    const auto capture = [](const std::string& command, std::string& into) {
        FILE* pipe = ::popen(command.c_str(), "r");
        std::array<char, 256> buffer{};
        while (std::fgets(buffer.data(), int(buffer.size()), pipe) != nullptr) {
            into += buffer.data();
        }
        const int status = ::pclose(pipe);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    run.exitCode = capture(base + " 2>/dev/null </dev/null", run.out);
    capture(base + " 2>&1 </dev/null", run.all);
    return run;
}

TEST(KeyBedTool, HelpNamesTheWiringTestAndItsExitStatus) {
    const ToolRun run = Tool("--help");
    EXPECT_EQ(run.exitCode, 0);
    for (const char* part : {"--test [INDEX]", "--json", "--seconds N", "--watch [INDEX]",
                             "0 the key bed is sound, 1 a fault was found, 2 a usage error"}) {
        EXPECT_NE(run.out.find(part), std::string::npos) << part << "\n" << run.out;
    }
}

TEST(KeyBedTool, UsageErrorsExitWithTwoAndSayWhat) {
    struct Case {
        const char* arguments;
        const char* says;
    };
    const std::vector<Case> cases{
        {"--json", "--json and --seconds go with --test"},
        {"--watch --seconds 5", "--json and --seconds go with --test"},
        {"--test --seconds", "--seconds needs a whole number of seconds"},
        {"--test --seconds 0", "--seconds needs a whole number of seconds"},
        {"--test --seconds 86401", "--seconds needs a whole number of seconds"},
        {"--test --seconds 5s", "--seconds needs a whole number of seconds"},
        {"--test --watch", "--watch and --test go one at a time"},
        {"--test 256", "bad index '256'"},
        {"--test x1", "bad index 'x1'"},
        {"--frobnicate", "unknown option '--frobnicate'"},
    };
    for (const Case& c : cases) {
        const ToolRun run = Tool(c.arguments);
        EXPECT_EQ(run.exitCode, 2) << c.arguments;
        EXPECT_TRUE(run.out.empty()) << c.arguments << ": " << run.out;
        EXPECT_NE(run.all.find(c.says), std::string::npos) << c.arguments << ": " << run.all;
    }
}

// No USB key bed on this machine: exit 2 at once, nothing on standard output that a script
// could take for a report.
TEST(KeyBedTool, WiringTestWithoutKeyBedExitsWithTwoAndNoReport) {
    for (const char* arguments : {"--test --json --seconds 30", "--test 3", "--test"}) {
        const ToolRun run = Tool(arguments);
        EXPECT_EQ(run.exitCode, 2) << arguments;
        EXPECT_EQ(run.all.find("\"findings\""), std::string::npos) << run.all;
        EXPECT_NE(run.all.find("could not be opened"), std::string::npos) << run.all;
    }
    EXPECT_TRUE(Tool("--test --json --seconds 30").out.empty());
}

}  // namespace

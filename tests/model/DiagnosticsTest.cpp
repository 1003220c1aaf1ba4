// Diagnostic lines: streams are reused from line to line, so nothing one
// line sets may reach the next, and a line written while another is being
// built must come out whole.

#include <gtest/gtest.h>

#include <iomanip>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "model/common/Diagnostics.h"

using namespace KORVIK;

namespace {

class Diagnostics : public ::testing::Test {
protected:
    void SetUp() override
    {
        set_diagnostic_sink([this](const std::string& line) {
            std::lock_guard<std::mutex> lock(mutex);
            lines.push_back(line);
        });
    }
    void TearDown() override { set_diagnostic_sink(nullptr); }

    std::mutex mutex;
    std::vector<std::string> lines;
};

std::string logs_while_formatted()
{
    diag() << "inner line" << std::endl;
    return "outer part";
}

} // namespace

TEST_F(Diagnostics, NothingCarriesOverFromOneLineToTheNext)
{
    diag() << std::hex << 255 << std::endl;
    diag() << 255 << std::endl;
    diag() << std::setw(5) << std::setfill('0') << 7 << std::endl;
    diag() << 7 << std::endl;
    diag() << std::fixed << std::setprecision(2) << 1.5 << std::endl;
    diag() << 1.5 << std::endl;
    diag() << std::boolalpha << true << std::endl;
    diag() << true << std::endl;
    diag() << "";
    diag() << "two" << '\n' << "lines\n";
    diag_text("report_io: a\nreport_io: b\n");
    const std::vector<std::string> expected = {"ff",  "255", "00007", "7",           "1.50",       "1.5", "true",
                                               "1",   "two", "lines", "report_io: a", "report_io: b"};
    EXPECT_EQ(expected, lines);
}

TEST_F(Diagnostics, LineWrittenWhileAnotherIsBuiltStaysWhole)
{
    diag() << "first " << logs_while_formatted() << std::endl;
    const std::vector<std::string> expected = {"inner line", "first outer part"};
    EXPECT_EQ(expected, lines);
}

TEST_F(Diagnostics, LinesOfTwoThreadsNeverMix)
{
    auto write = [](char c) {
        for (int i = 0; i < 2000; ++i)
            diag() << std::string(40, c) << ' ' << i << std::endl;
    };
    std::thread a(write, 'a'), b(write, 'b');
    a.join();
    b.join();
    ASSERT_EQ(4000u, lines.size());
    for (const std::string& line : lines) {
        const std::string head = line.substr(0, 40);
        EXPECT_EQ(std::string(40, head[0]), head) << line;
    }
}

// "Read Byte" and "Write Byte", with the user's typing scripted in place of
// the number window (the window itself is tested in windows_test.cpp).
#include <gtest/gtest.h>

#include <deque>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "ops/commands.h"
#include "sim.h"
#include "support/job_fixture.h"
#include "ui/input.h"

namespace {

using Lines = std::vector<std::string>;
using Answer = std::optional<std::string>;  // nullopt: the window is closed

std::deque<Answer> g_answers;
std::vector<std::string> g_prompts;
std::string g_typed;

const char* scriptedInput(const char* prompt)
{
    g_prompts.push_back(prompt);
    if (g_answers.empty()) {
        ADD_FAILURE() << "unexpected question: " << prompt;
        return nullptr;
    }
    Answer a = g_answers.front();
    g_answers.pop_front();
    if (!a)
        return nullptr;
    g_typed = *a;
    return g_typed.c_str();
}

class SingleByteTest : public JobTest {
protected:
    void SetUp() override
    {
        JobTest::SetUp();
        g_answers.clear();
        g_prompts.clear();
        g_inputHook = scriptedInput;
    }
    void TearDown() override
    {
        g_inputHook = nullptr;
        EXPECT_TRUE(g_answers.empty()) << "the job asked fewer questions than expected";
        JobTest::TearDown();
    }

    Lines readByte(Answer address)
    {
        g_answers = {address};
        clearLog();
        cb_readByte_button(nullptr, nullptr);
        return logLines();
    }
    Lines writeByte(Answer address, Answer value = std::nullopt, bool asksValue = true)
    {
        g_answers = {address};
        if (asksValue)
            g_answers.push_back(value);
        clearLog();
        cb_writeByte_button(nullptr, nullptr);
        return logLines();
    }
};

using Read = std::tuple<int, uint32_t>;  // chip, chip address

std::vector<Read> readsSince(sim::Mark m)
{
    std::vector<Read> out;
    for (const auto& c : sim::busCyclesSince(m))
        if (!c.write)
            out.push_back({c.chip, c.address});
    return out;
}

using Write = std::tuple<int, uint32_t, int>;  // chip, chip address, value

std::vector<Write> writesSince(sim::Mark m)
{
    std::vector<Write> out;
    for (const auto& c : sim::hostWritesSince(m))
        out.push_back({c.chip, c.address, c.value});
    return out;
}

TEST_F(SingleByteTest, ReadSplitsTheAddressIntoChipAndChipAddress)
{
    ASSERT_TRUE(sim::insertCart("official32"));
    sim::cartPoke(0x3FFFFF, 'Z');
    sim::cartPoke(0x200000, 'Q');
    sim::cartPoke(0x1FFFFF, 'y');

    sim::Mark m = sim::mark();
    EXPECT_EQ(readByte("0x3FFFFF"), Lines{"Byte at address 0x003fffff is 0x5a 'Z'"});
    EXPECT_EQ(readsSince(m), (std::vector<Read>{{1, 0x1FFFFF}}));
    EXPECT_EQ(g_prompts, Lines{"Enter address"});

    m = sim::mark();
    EXPECT_EQ(readByte("2097152"), Lines{"Byte at address 0x00200000 is 0x51 'Q'"});
    EXPECT_EQ(readsSince(m), (std::vector<Read>{{1, 0}}));

    m = sim::mark();
    EXPECT_EQ(readByte("0x1FFFFF"), Lines{"Byte at address 0x001fffff is 0x79 'y'"});
    EXPECT_EQ(readsSince(m), (std::vector<Read>{{0, 0x1FFFFF}}));

    m = sim::mark();
    EXPECT_EQ(readByte("0"), Lines{"Byte at address 0x00000000 is 0x20 ' '"});
    EXPECT_EQ(readsSince(m), (std::vector<Read>{{0, 0}}));
}

TEST_F(SingleByteTest, OnlyPrintableBytesAreShownAsThemselves)
{
    const std::pair<uint8_t, const char*> cases[] = {
        {0x41, "Byte at address 0x00000100 is 0x41 'A'"},
        {0x0A, "Byte at address 0x00000100 is 0x0a '.'"},
        {0xFF, "Byte at address 0x00000100 is 0xff '.'"},
        {0x7E, "Byte at address 0x00000100 is 0x7e '~'"},
        {0x7F, "Byte at address 0x00000100 is 0x7f '.'"},
        {0x1F, "Byte at address 0x00000100 is 0x1f '.'"},
        {0x00, "Byte at address 0x00000100 is 0x00 '.'"},
    };
    for (auto [byte, line] : cases) {
        sim::cartPoke(0x100, byte);
        EXPECT_EQ(readByte("0x100"), Lines{line});
    }
}

TEST_F(SingleByteTest, AddressesPastTheCartridgeAreRefusedBeforeAnyTransfer)
{
    const std::pair<Answer, const char*> cases[] = {
        {"0x400000", "Invalid address 0x400000"},
        {std::nullopt, "Invalid address 0xffffffff"},
        {"-1", "Invalid address 0xffffffff"},
        {"-5", "Invalid address 0xfffffffb"},
        {"0xFFFFFFFF", "Invalid address 0x7fffffff"},
    };
    for (auto [typed, line] : cases) {
        sim::Mark m = sim::mark();
        EXPECT_EQ(readByte(typed), Lines{line});
        EXPECT_EQ(writeByte(typed, std::nullopt, false), Lines{line})
            << "the value is not asked for a refused address";
        EXPECT_TRUE(sim::transfersSince(m).empty());
    }
}

TEST_F(SingleByteTest, WriteSendsOneRawCycleOfTheLowByte)
{
    ASSERT_TRUE(sim::insertCart("official32"));
    sim::Mark m = sim::mark();
    EXPECT_EQ(writeByte("0x200010", "0x141"), Lines{"Writing 0x141 'A' to address 0x00200010"});
    EXPECT_EQ(g_prompts, (Lines{"Enter address", "Enter byte value"}));
    EXPECT_EQ(writesSince(m), (std::vector<Write>{{1, 0x10, 0x41}}));
    EXPECT_TRUE(sim::busCyclesSince(m).size() == 1) << "no program sequence is added";

    m = sim::mark();
    EXPECT_EQ(writeByte("0x5555", "170"), Lines{"Writing 0xaa '.' to address 0x00005555"});
    EXPECT_EQ(writeByte("0", "0x7"), Lines{"Writing 0x07 '.' to address 0x00000000"});
    EXPECT_EQ(writeByte("0x3FFFFF", "0x30"), Lines{"Writing 0x30 '0' to address 0x003fffff"});
    EXPECT_EQ(writeByte("16", "-2"), Lines{"Writing 0xfffffffe '.' to address 0x00000010"});
    EXPECT_EQ(writesSince(m), (std::vector<Write>{
                                  {0, 0x5555, 0xAA}, {0, 0, 0x07}, {1, 0x1FFFFF, 0x30}, {0, 0x10, 0xFE}}));
}

TEST_F(SingleByteTest, ClosedValueWindowSendsNothing)
{
    for (Answer value : {Answer(std::nullopt), Answer("-1")}) {
        sim::Mark m = sim::mark();
        EXPECT_EQ(writeByte("0x10", value), Lines{"Invalid byte value"});
        EXPECT_TRUE(sim::transfersSince(m).empty());
    }
}

// A failed read cannot be told from 0x00 in the result line; only the
// transfer layer's lines before it show it.
TEST_F(SingleByteTest, FailedReadShowsZeroAfterTheTransferError)
{
    sim::cartPoke(0x20, 0x55);
    sim::timeoutOnTransfer(2);
    EXPECT_EQ(readByte("0x20"), (Lines{"", "Error: LIBUSB_ERROR_TIMEOUT", "Operation timed out.",
                                       "Byte at address 0x00000020 is 0x00 '.'"}));
}

TEST_F(SingleByteTest, FailedWriteIsReportedAfterTheWritingLine)
{
    sim::wrongCodeOnTransfer(1, 0xEE);
    EXPECT_EQ(writeByte("0x20", "0x41"),
              (Lines{"Writing 0x41 'A' to address 0x00000020", "write_byte: result = 0xEE"}));
}

}  // namespace

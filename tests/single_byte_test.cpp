// "Read Byte" and "Write Byte", with the user's typing scripted in place of
// the number window (the window itself is tested in windows_test.cpp).
#include <deque>
#include <optional>
#include <tuple>

#include "gui/commands.h"
#include "support/job_helpers.h"
#include "gui/input.h"

namespace {

using Answer = std::optional<std::string>;  // nullopt: the window is closed
using Cycle = std::tuple<int, uint32_t, int>;  // chip, chip address, value written (-1: a read)

std::deque<Answer> g_answers;
Lines g_prompts;
std::string g_typed;

// The number window, answered from g_answers.
const char* answer(const char* prompt)
{
    g_prompts.push_back(prompt);
    if (g_answers.empty()) {
        ADD_FAILURE() << "unexpected question: " << prompt;
        return nullptr;
    }
    Answer a = g_answers.front();
    g_answers.pop_front();
    g_typed = a.value_or("");
    return a ? g_typed.c_str() : nullptr;
}

class SingleByteTest : public JobTest {
protected:
    void SetUp() override
    {
        JobTest::SetUp();
        g_inputHook = answer;
    }
    void TearDown() override
    {
        g_inputHook = nullptr;
        EXPECT_TRUE(g_answers.empty()) << "the job asked fewer questions than expected";
        JobTest::TearDown();
    }

    // Runs the command with these answers on an empty log; the bus cycles it caused.
    std::vector<Cycle> run(const char* command, std::deque<Answer> answers)
    {
        g_answers = std::move(answers);
        g_prompts.clear();
        clearLog();
        sim::Mark m = sim::mark();
        clickCommand(command);
        std::vector<Cycle> cycles;
        for (const auto& c : sim::busCyclesSince(m))
            cycles.push_back({c.chip, c.address, c.write ? c.value : -1});
        return cycles;
    }
};

// The address splits into chip and chip address; only printable bytes are
// shown as themselves.
TEST_F(SingleByteTest, ReadOneByte)
{
    ASSERT_TRUE(sim::insertCart("official32"));
    const struct { uint32_t at; uint8_t byte; const char* typed; const char* line; Cycle read; } cases[] = {
        {0x3FFFFF, 'Z', "0x3FFFFF", "Byte at address 0x003fffff is 0x5a 'Z'", {1, 0x1FFFFF, -1}},
        {0x200000, 'Q', "2097152", "Byte at address 0x00200000 is 0x51 'Q'", {1, 0, -1}},
        {0x1FFFFF, 'y', "0x1FFFFF", "Byte at address 0x001fffff is 0x79 'y'", {0, 0x1FFFFF, -1}},
        {0, ' ', "0", "Byte at address 0x00000000 is 0x20 ' '", {0, 0, -1}},
        {0x100, 0x0A, "0x100", "Byte at address 0x00000100 is 0x0a '.'", {0, 0x100, -1}},
        {0x100, 0xFF, "0x100", "Byte at address 0x00000100 is 0xff '.'", {0, 0x100, -1}},
        {0x100, 0x7E, "0x100", "Byte at address 0x00000100 is 0x7e '~'", {0, 0x100, -1}},
        {0x100, 0x7F, "0x100", "Byte at address 0x00000100 is 0x7f '.'", {0, 0x100, -1}},
        {0x100, 0x1F, "0x100", "Byte at address 0x00000100 is 0x1f '.'", {0, 0x100, -1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        sim::cartPoke(c.at, c.byte);
        EXPECT_EQ(run("read-byte", {c.typed}), std::vector<Cycle>{c.read});
        EXPECT_TRUE(logIs({c.line}));
        EXPECT_EQ(g_prompts, Lines{"Enter address"});
    }
}

// One raw cycle of the value's low byte, no program sequence added; then
// the byte is read back until two reads agree, and a byte that did not take
// is said so, with why. A command address is one step of a command: never
// read back.
TEST_F(SingleByteTest, WriteOneByte)
{
    ASSERT_TRUE(sim::insertCart("official32"));
    sim::cartPoke(0x200010, 0x00);
    sim::cartPoke(0x3FFFFF, 0x30);
    sim::cartPoke(0x10, 0x00);
    const struct { const char *address, *value, *line; Cycle write; const char* readBack; } cases[] = {
        {"0x200010", "0x141", "Writing 0x141 'A' to address 0x00200010", {1, 0x10, 0x41}, "0x00"},
        {"0x5555", "170", "Writing 0xaa '.' to address 0x00005555", {0, 0x5555, 0xAA}, nullptr},
        {"0x202AAA", "0x55", "Writing 0x55 'U' to address 0x00202aaa", {1, 0x2AAA, 0x55}, nullptr},
        {"0x3FFFFF", "0x30", "Writing 0x30 '0' to address 0x003fffff", {1, 0x1FFFFF, 0x30}, ""},  // already there
        {"16", "0xFFFFFFFE", "Writing 0xfffffffe '.' to address 0x00000010", {0, 0x10, 0xFE}, "0x00"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        std::vector<Cycle> cycles = {c.write};
        Lines lines = {c.line};
        if (c.readBack) {
            Cycle read = {std::get<0>(c.write), std::get<1>(c.write), -1};
            cycles.insert(cycles.end(), {read, read});
        }
        if (c.readBack && *c.readBack)
            lines = lines + Lines{"Read back " + std::string(c.readBack) + ": the byte did not take.",
                                  "Flash needs an erase and a program command."};
        EXPECT_EQ(run("write-byte", {c.address, c.value}), cycles);
        EXPECT_TRUE(logIs(lines));
        EXPECT_EQ(g_prompts, (Lines{"Enter address", "Enter byte value"}));
    }
}

// Refused before any transfer; the value is not asked for a refused address.
// A closed window is the user changing their mind: nothing is said. Text
// that is not a number is asked for again.
TEST_F(SingleByteTest, RefusedAnswersSendNothing)
{
    const std::pair<std::deque<Answer>, Lines> addresses[] = {
        {{"0x400000"}, {"Invalid address 0x400000"}},
        {{"0xFFFFFFFF"}, {"Invalid address 0xffffffff"}},
        {{std::nullopt}, {}},
        {{"-1", "zz", std::nullopt}, {}},
    };
    for (const auto& [typed, lines] : addresses) {
        for (auto job : {"read-byte", "write-byte"}) {
            sim::Mark m = sim::mark();
            run(job, typed);
            EXPECT_TRUE(logIs(lines));
            EXPECT_TRUE(sim::transfersSince(m).empty());
        }
    }
    for (std::deque<Answer> value : {std::deque<Answer>{std::nullopt}, std::deque<Answer>{"-1", "1 2", std::nullopt}}) {
        sim::Mark m = sim::mark();
        value.push_front("0x10");
        run("write-byte", value);
        EXPECT_TRUE(logLines().empty());
        EXPECT_TRUE(sim::transfersSince(m).empty());
    }
    // "zz" reads no address 0: it is asked for again.
    run("read-byte", {"zz", "0x24"});
    EXPECT_TRUE(logIs({"Byte at address 0x00000024 is 0x53 'S'"}));
    EXPECT_EQ(g_prompts, (Lines{"Enter address", "Enter address"}));
}

// A failed read cannot be told from 0x00 in the result line; only the
// transfer layer's lines before it show it.
TEST_F(SingleByteTest, TransferFailuresAreReported)
{
    sim::wrongCodeOnTransfer(1, 0xEE);
    run("write-byte", {"0x20", "0x41"});
    EXPECT_TRUE(logIs({"Writing 0x41 'A' to address 0x00000020", "write_byte: result = 0xEE"}));
    sim::cartPoke(0x20, 0x55);
    sim::timeoutOnTransfer(2);
    run("read-byte", {"0x20"});
    EXPECT_TRUE(logIs(TIMED_OUT + Lines{"Byte at address 0x00000020 is 0x00 '.'"}));
}

}  // namespace

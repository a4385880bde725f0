// Write Savegame when the linker lets it down: a save is restored whole or
// the log says it was not.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/command_buttons.h"
#include "sim.h"
#include "support/device.h"
#include "support/job_fixture.h"
#include "gui/events.h"

namespace {

// One record of 64 bytes at chip 0's block 33 (console address 0x3FA000).
std::string saveFile(const std::string& name)
{
    std::vector<uint8_t> f = {0x53, 0x00, 0x01, 0x00, 0x50, 0x00, 0x00, 0x00,
                              0x00, 0xA0, 0x3F, 0x00, 0x40, 0x00, 0x00, 0x00};
    for (int i = 0; i < 64; i++)
        f.push_back(uint8_t(i * 5));
    std::string path = scratchPath(name);
    FILE* out = fopen(path.c_str(), "wb");
    fwrite(f.data(), 1, f.size(), out);
    fclose(out);
    return path;
}

int count(const std::string& line)
{
    int n = 0;
    for (const auto& l : logLines())
        n += l == line;
    return n;
}

class WriteSaveFailures : public JobTest {};

TEST_F(WriteSaveFailures, AUnitTheLinkerRefusedIsNotReportedAsDone)
{
    sim::setEraseTimes(0.001, 0.002);
    sim::byteNeverPrograms(0, 0x1FA005);
    answerFileChoice(saveFile("save.ngf"));
    clickCommand("save-write");
    EXPECT_TRUE(logHasInOrder({"Writing a save-game", "flash_write_32_bytes: result = 0x10"}));
    Lines log = logLines();
    EXPECT_EQ(Lines(log.end() - std::min<size_t>(log.size(), 8), log.end()),
              (Lines{"The linker reported errors;", "the save-game is not written whole.",
                     "Blocks written and compared before the stop:", "none",
                     "Erased or partly written: chip 0 block 33"} + undoLines()));
    EXPECT_EQ(findLine("Writing a save-game done."), -1);
    EXPECT_EQ(sim::chip(0).peek(0x1FA03F), uint8_t(63 * 5)) << "the next unit still went out";
}

void unplugNow()
{
    sim::unplugAfterTransfers(0);
}

TEST_F(WriteSaveFailures, ALinkerUnpluggedDuringTheEraseWaitEndsTheJobAtOnce)
{
    sim::chipEraseNeverEnds(0);
    answerFileChoice(saveFile("save.ngf"));
    g_afterEventsHook = unplugNow;  // first events let through: the record's start
    clickCommand("save-write");
    EXPECT_EQ(count("Error: LIBUSB_ERROR_NO_DEVICE"), 1) << "one error, not a flood";
    EXPECT_EQ(findLine("Writing a save-game done."), -1);
    EXPECT_EQ(findLine("Writing a save-game cancelled."), -1);
}

}  // namespace

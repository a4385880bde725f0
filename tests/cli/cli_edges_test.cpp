// Files flash and identify must not take, and a ROM larger than the
// cartridge: refused before the linker is opened or anything is erased.
#include <sys/stat.h>

#include "support/cli_run.h"

namespace {

TEST_F(CliTest, SpecialEmptyAndOversizedFilesAreRefusedBeforeAnythingIsErased)
{
    plug("flash4");
    const Bytes cart = sim::cartImage();
    Bytes big = cart + pattern(3000, 4);
    writeFile(folder + "/big.ngp", big);
    writeFile(folder + "/empty.ngp", {});
    ASSERT_EQ(mkfifo((folder + "/fifo.ngp").c_str(), 0600), 0);
    const std::string notRegular = "' is not a regular file; nothing done.";
    const struct { std::vector<std::string> args; int status; Lines tail; bool linker; } cases[] = {
        {{"flash", "fifo.ngp"}, 1, {"'fifo.ngp" + notRegular}, false},
        {{"flash", "--force", "empty.ngp"}, 1, {"'empty.ngp' is empty; nothing was erased."}, false},
        // identify exits 2 when a file could not be read
        {{"identify", "fifo.ngp", "/dev/zero"}, 2, {"'fifo.ngp" + notRegular, "'zero" + notRegular}, false},
        {{"flash", "big.ngp"}, 1,
         {"Warning! ROM size of 527288 bytes is", "larger than the flash size of 524288 bytes.",
          "Not flashing 'big.ngp': 3000 of its bytes would not fit on the cartridge. Nothing was erased."},
         true},
        {{"flash", "--force", "big.ngp"}, 0,
         {"Verify after writing: all 524288 bytes match.", "Flashing done.",
          "3000 bytes of the file did not fit on the cartridge and were not written."},
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tail.back());
        sim::loadImage(Bytes(cart.size(), 0x00));
        std::vector<std::string> args = c.args;
        for (std::string& a : args)
            if (a.size() > 4 && a.compare(a.size() - 4, 4, ".ngp") == 0)
                a = folder + "/" + a;
        uint64_t transfers = sim::counters().transfers;
        CliRun r = run(args);
        EXPECT_EQ(r.status, c.status) << r.out;
        std::string out = r.out.substr(0, r.out.find("Identity of '"));
        Lines lines;
        for (size_t at = 0, end; (end = out.find('\n', at)) != std::string::npos; at = end + 1)
            lines.push_back(out.substr(at, end - at));
        EXPECT_TRUE(linesEndWith(lines, c.tail)) << r.out;
        EXPECT_EQ(sim::counters().transfers > transfers, c.linker);
        EXPECT_TRUE(sim::cartImage() == (c.status == 0 ? slice(big, 0, cart.size()) : Bytes(cart.size(), 0x00)));
    }
}

}  // namespace

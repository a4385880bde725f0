// identify, which needs no linker, and flash, which will not write a file the
// console would refuse unless forced.
#include "support/cli_run.h"

namespace {

std::string joined(const Lines& lines)
{
    std::string text;
    for (const std::string& line : lines)
        text += line + "\n";
    return text;
}

TEST_F(CliTest, IdentifyReadsEveryFileWithoutALinker)
{
    plug("official16");
    sim::noDevice();
    std::string cart = folder + "/cart.ngp", other = folder + "/other.bin";
    writeFile(cart, sim::cartImage());
    writeFile(other, pattern(1000));
    // Each named as given, so that two files of one name can be told apart.
    auto asGiven = [](const std::string& path) {
        Lines lines = identityOf(path);
        lines[0] = "Identity of '" + path + "':";
        return lines;
    };
    CliRun r = run({"identify", cart, other});
    EXPECT_EQ(r.status, 1) << "with no lists, neither is known";
    EXPECT_EQ(r.out, joined(asGiven(cart) + asGiven(other)));
    EXPECT_EQ(r.err, "") << "no linker was looked for";
    EXPECT_TRUE(sim::transfersSince(0).empty());

    // A file that cannot be read is said, and the others still identified.
    CliRun missing = run({"identify", folder + "/gone.bin", cart});
    EXPECT_EQ(missing.status, 2);
    EXPECT_EQ(missing.out, "Failed to open '" + folder + "/gone.bin': No such file or directory\n" + joined(asGiven(cart)));
}

TEST_F(CliTest, FlashRefusesAFileWithoutLicenceTextUnlessForced)
{
    plug("flash4");
    const Bytes before = sim::cartImage();
    std::string rom = folder + "/bare.ngp";
    writeFile(rom, pattern(0x1000));
    sim::Mark m = sim::mark();
    CliRun refused = run({"flash", rom});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.out, "Not flashing 'bare.ngp':\nit has no valid licence text,\n"
                           "so the console would refuse to start it.\nGive --force to flash it all the same.\n");
    EXPECT_TRUE(commandsSince(m, CMD_WRITE).empty()) << "nothing erased";
    EXPECT_EQ(sim::cartImage(), before);

    CliRun forced = run({"flash", "--force", rom});
    EXPECT_EQ(forced.status, 0) << forced.out;
    const std::string warning = "\nWarning! 'bare.ngp' has no valid licence text:\nthe console will refuse to start it.\n\n";
    ASSERT_GE(forced.out.size(), warning.size());
    EXPECT_EQ(forced.out.substr(forced.out.size() - warning.size()), warning);
    EXPECT_EQ(chipBytes(0, 0, 0x1000), readFile(rom));
}

}  // namespace

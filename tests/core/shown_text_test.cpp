// Bytes from cartridges and files reach the terminal, the window and the log
// file only escaped: nothing steers a terminal, the log file stays UTF-8.
#include <cstdarg>

#include "core/jobs/jobs.h"
#include "core/shown_text.h"
#include "sim.h"
#include "support/core_job.h"
#include "support/log_file_records.h"
#include "support/sim_job.h"

namespace {

// Whether the bytes are well-formed UTF-8 with no control byte but the tab.
bool utf8Text(const std::string& s)
{
    for (size_t i = 0; i < s.size();) {
        unsigned char c = s[i];
        size_t n = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
        if (n == 0 || i + n > s.size() || (n == 1 && c < 0x20 && c != '\t') || c == 0x7F)
            return false;
        for (size_t k = 1; k < n; k++)
            if ((s[i + k] & 0xC0) != 0x80)
                return false;
        i += n;
    }
    return true;
}

TEST(ShownText, ControlBytesAndWhatIsNotUtf8AreEscapedOnce)
{
    const struct { std::string raw, printable, utf8, shown; } cases[] = {
        {"caf\xC3\xA9\x01", "caf\\xC3\\xA9\\x01", "caf\xC3\xA9\\x01", "caf\xC3\xA9\\x01"},
        {"\x1B]0;x\x07\\", "\\x1B]0;x\\x07\\x5C", "\\x1B]0;x\\x07\\x5C", "\\x1B]0;x\\x07\\"},
        // A lone, cut, overlong or surrogate sequence, and the C1 control CSI.
        {"\xFF\xC3(\xE2\x82", "\\xFF\\xC3(\\xE2\\x82", "\\xFF\\xC3(\\xE2\\x82", "\\xFF\\xC3(\\xE2\\x82"},
        {"\xC0\xAF\xED\xA0\x80\xC2\x9B", "\\xC0\\xAF\\xED\\xA0\\x80\\xC2\\x9B", "\\xC0\\xAF\\xED\\xA0\\x80\\xC2\\x9B",
         "\\xC0\\xAF\\xED\\xA0\\x80\\xC2\\x9B"},
        {"\xE2\x80\xA6\xF0\x9F\x8E\xAE\t\n", "\\xE2\\x80\\xA6\\xF0\\x9F\\x8E\\xAE\\x09\\x0A", "\xE2\x80\xA6\xF0\x9F\x8E\xAE\\x09\\x0A",
         "\xE2\x80\xA6\xF0\x9F\x8E\xAE\t\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(printable(c.raw), c.printable);
        EXPECT_EQ(printable(c.raw, true), c.utf8);
        EXPECT_EQ(shownText(c.raw.data(), c.raw.size()), c.shown);
        EXPECT_EQ(shownText(c.utf8.data(), c.utf8.size()), c.utf8) << "printable text passes unchanged";
    }
}

// An erased cartridge's name is 0xFF bytes, a hostile one holds ESC
// sequences; a file's name may be any bytes. Every face and the log file
// get them escaped as the header's Title line is.
TEST_F(CoreJobTest, CartridgeAndFileBytesAreEscapedInTheLogAndItsFile)
{
    ScratchStateHome state;
    const std::string title = "\x1B]0;pwn\x07\xFF\xFF\xFF\xFF";
    for (size_t i = 0; i < 12; i++)
        sim::cartPoke(0x24 + uint32_t(i), i < title.size() ? uint8_t(title[i]) : 0xFF);
    std::string path = scratch("bad\x1B[2J\xFFname.ngp");
    writeFile(path, Bytes(0x1000, 0));
    {
        CommandScope named(report, "verify");
        cartInfo(simJob(report));
        verifyRom(path, simJob(report));
    }
    const std::string shown = "ROM name: '\\x1B]0;pwn\\x07\\xFF\\xFF\\xFF\\xFF'";
    EXPECT_EQ(std::count(report.lines.begin(), report.lines.end(), shown), 1);
    EXPECT_EQ(std::count(report.lines.begin(), report.lines.end(), "Verifying 'bad\\x1B[2J\\xFFname.ngp'"), 1);
    std::ifstream in(state.log(), std::ios::binary);
    std::string file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(file.find(shown), std::string::npos);
    size_t lines = 0;
    for (size_t at = 0, end; (end = file.find('\n', at)) != std::string::npos; at = end + 1, lines++)
        EXPECT_TRUE(utf8Text(file.substr(at, end - at))) << file.substr(at, end - at);
    EXPECT_GE(lines, report.lines.size());
    for (const std::string& line : report.lines)
        EXPECT_TRUE(utf8Text(line)) << line;
}

std::string formatted(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::string line = formatLine(format, args);
    va_end(args);
    return line;
}

// A name's line break, carriage return and tab are escaped; the format's own
// stay, and every other argument keeps its place and type. A word for the
// shell stays on one line and reads back as the path.
TEST(ShownText, ANameNeverBreaksALine)
{
    const struct { std::string got, wanted; } cases[] = {
        {formatted("Flashing '%s'", "evil\nFlashing done.\r\t.ngp"), "Flashing 'evil\\x0AFlashing done.\\x0D\\x09.ngp'"},
        {formatted("Error: LIBUSB_ERROR_OTHER\nOther error."), "Error: LIBUSB_ERROR_OTHER\nOther error."},
        {formatted("%d|%5.1f|%llu|%c|%-3s|%.*s|%zu|%%|%lx|%s", -7, 2.25, 1ULL << 40, 'z', "a\t", 2, "xyz", size_t(9),
                   0xABCDEFUL, "end"),
         "-7|  2.2|1099511627776|z|a\\x09|xy|9|%|abcdef|end"},
        {shellWord("/saves/it's"), "'/saves/it'\\''s'"},
        {shellWord("pockettetherbox-cli-sim", true), "pockettetherbox-cli-sim"},
        {shellWord("/d\n\ta\\b'\xFF", true), "$'/d\\x0A\\x09a\\\\b\\'\\xFF'"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.got, c.wanted);
}

}  // namespace

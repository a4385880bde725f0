// doctor: one line per link from the program to the cartridge, stopping at
// the first link that breaks the chain, with what to do about it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include <libusb.h>

#include "core/jobs/jobs.h"
#include "core/link/linker.h"
#include "core/link/transfer.h"
#include "gui/log.h"
#include "sim.h"
#include "support/job_fixture.h"
#include "version.h"
#include "support/sim_job.h"

using Lines = std::vector<std::string>;

class Doctor : public JobTest {};

TEST_F(Doctor, SaysEachLinkAndWhatToDoWhereOneFails)
{
    const std::string folder = scratchPath("rules");
    std::filesystem::create_directories(folder);
    const std::string rule = folder + "/" + PTB_UDEV_RULE;
    const Lines withRule = {"udev rule: " + rule + "."};
    const Lines withoutRule = {std::string("udev rule: ") + PTB_UDEV_RULE + " is in none of udev's folders.",
                               "Install it (see the README), then replug."};
    const Lines upToCart = {"Access: this user may open it.", "Firmware: v0.13.",
                            "Chip 0: maker 0x98, device 0x2F, 16 Mbit.", "Chip 1: no answer (a cartridge of one chip).",
                            "Header: licence text ' LICENSED BY SNK CORPORATION'."};
    const Lines unstable = {"Clean the cartridge's contacts and run again."};
    auto with = [](Lines lines, const Lines& more) {
        lines.insert(lines.end(), more.begin(), more.end());
        return lines;
    };
    const struct {
        const char* what;
        std::function<void()> before, after;  // the opening
        bool rule;
        Lines lines;  // after the libusb, udev and bus lines
        bool holds;
    } rows[] = {
        {"healthy", [] {}, [] {}, true,
         with(upToCart, {"Contacts: header and 64 KiB read alike twice.", "Every link holds."}), true},
        {"no udev rule", [] {}, [] {}, false, with(upToCart, {"Contacts: header and 64 KiB read alike twice."}),
         false},
        {"a byte misread once, in the second pass", [] {}, [] { sim::misreadOnce(0x1000, 2); }, true,
         with(with(upToCart, {"Contacts: unstable; reads differ at 0x001000."}), unstable), false},
        {"a byte that never settles", [] {}, [] { sim::neverReadsTrue(0x30); }, true,
         with(with(upToCart, {"Contacts: unstable; reads differ at 0x000030."}), unstable), false},
        {"not ours to open", [] { sim::denyAccess(); }, [] {}, true,
         {"Access: this user may not open it (LIBUSB_ERROR_ACCESS).",
          "Install the udev rule (see the README) and plug it in again."},
         false},
        {"busy", [] { sim::failClaimInterface(LIBUSB_ERROR_BUSY); }, [] {}, true,
         {"Access: in use by another program (LIBUSB_ERROR_BUSY).", "Close it, then plug the linker in again."},
         false},
        {"another firmware", [] { sim::setFirmware(0, 12); }, [] {}, true,
         {"Access: this user may open it.", "Firmware: v0.12, where v0.13 is needed.",
          "Install that firmware on the linker."},
         false},
        {"no cartridge", [] { sim::insertCart("none"); }, [] {}, true,
         {"Access: this user may open it.", "Firmware: v0.13.", "Chips: none answers.",
          "Reseat the cartridge; clean its contacts."},
         false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        closeLink();
        sim::reset();
        row.rule ? (void)std::ofstream(rule) : (void)std::filesystem::remove(rule);
        row.before();
        openLink(windowReporter());
        row.after();
        clearLog();
        EXPECT_EQ(doctor(simJob(windowReporter()), {folder}), row.holds);
        Lines lines = logLines();
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines[0].rfind("libusb: version 1.0.", 0), 0u) << lines[0];
        Lines bus = {"Linker: bus 1, address " + std::to_string(sim::usbAddress()) + "."};
        EXPECT_EQ(Lines(lines.begin() + 1, lines.end()), with(with(row.rule ? withRule : withoutRule, bus), row.lines));
    }

    // Nothing on the bus: the chain stops there, with what to do.
    closeLink();
    sim::noDevice();
    openLink(windowReporter());
    clearLog();
    EXPECT_FALSE(doctor(simJob(windowReporter()), {folder}));
    Lines lines = logLines();
    EXPECT_EQ(Lines(lines.begin() + 2, lines.end()),
              (Lines{"Linker: none on the bus.", "Plug it in, with a cable that carries data."}));
}

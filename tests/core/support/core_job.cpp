#include "support/core_job.h"

#include <stdlib.h>

#include <filesystem>

#include "core/link/linker.h"
#include "sim.h"

void RecordingReporter::beginProgress(const char* title, uint64_t totalBytes)
{
    titles.push_back(title);
    totals.push_back(totalBytes);
    firstFraction.push_back(fractions.size());
    open = true;
    if (onBegin)
        onBegin(title);
}

void RecordingReporter::breathe()
{
    breaths++;
    if (onBreath)
        onBreath(breaths);
}

void RecordingReporter::cancelAtBreath(int n)
{
    int at = breaths + n;
    onBreath = [this, at](int b) {
        if (b == at)
            cancelled = true;
    };
}

void CoreJobTest::SetUp()
{
    // Safety copies go to the test's scratch folder, never the user's own.
    setenv("XDG_DATA_HOME", scratch("data").c_str(), 1);
    sim::reset();
    ASSERT_TRUE(openLink(report)) << "the simulated linker did not open";
    report = RecordingReporter();
}

void CoreJobTest::TearDown()
{
    closeLink();
    unsetenv("XDG_DATA_HOME");
    if (!folder_.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(folder_, ec);
    }
}

std::string CoreJobTest::scratch(const std::string& name)
{
    if (folder_.empty()) {
        char tmpl[] = "/tmp/ptb-core-test-XXXXXX";
        folder_ = mkdtemp(tmpl);
    }
    return folder_ + "/" + name;
}

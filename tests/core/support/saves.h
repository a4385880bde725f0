// Save-game files as emulators and this tool write them, and a fixture for
// the save-game modules that need no linker: only their lines are read back.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "core/report.h"
#include "core/saves/ngf_load.h"
#include "support/core_job.h"

namespace fs = std::filesystem;

struct SaveRec {
    uint32_t addr;
    Bytes data;
    uint16_t pad = 0;  // the short layout's padding bytes
};

// An NGF file whose record headers carry a u16 length and two bytes of
// padding, as one family of emulators writes them.
inline Bytes shortLayoutFile(const std::vector<SaveRec>& records)
{
    Bytes f(NGF_HEADER_LEN);
    for (const SaveRec& r : records) {
        uint8_t head[NGF_BLOCK_HEADER_LEN];
        putNgfBlockHeader(head, NgfBlockHeader{r.addr, uint32_t(r.data.size()) | uint32_t(r.pad) << 16});
        f.insert(f.end(), head, head + sizeof head);
        f.insert(f.end(), r.data.begin(), r.data.end());
    }
    putNgfHeader(f.data(), NgfHeader{NGF_VERSION, uint16_t(records.size()), uint32_t(f.size())});
    return f;
}

// Loads bytes as the job loads a file, through a stream.
inline bool loadBytes(Reporter& r, const Bytes& file, LoadedSave* save)
{
    FILE* f = fmemopen(const_cast<uint8_t*>(file.data()), file.size(), "rb");
    if (!f)
        return false;
    bool ok = loadNgfFile(r, f, "/saves/game.ngf", save);
    fclose(f);
    return ok;
}

// An environment variable set (or unset) for one scope.
struct EnvVar {
    std::string name;
    std::optional<std::string> saved;
    EnvVar(const char* n, const char* value) : name(n)
    {
        if (const char* v = getenv(n))
            saved = v;
        value ? setenv(n, value, 1) : unsetenv(n);
    }
    ~EnvVar() { saved ? setenv(name.c_str(), saved->c_str(), 1) : unsetenv(name.c_str()); }
};

class SavesTest : public ::testing::Test {
protected:
    RecordingReporter report;
    const Lines& logLines() const { return report.lines; }
    void clearLog() { report.lines.clear(); }
    // A path in a scratch folder removed with the test.
    std::string scratchPath(const std::string& name)
    {
        if (folder_.empty()) {
            char tmpl[] = "/tmp/ptb-saves-test-XXXXXX";
            folder_ = mkdtemp(tmpl);
        }
        return folder_ + "/" + name;
    }
    void TearDown() override
    {
        std::error_code ec;
        if (!folder_.empty())
            fs::remove_all(folder_, ec);
    }

private:
    std::string folder_;
};

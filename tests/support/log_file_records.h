// The log file as tests read it back, and a state folder of the test's own
// so that nothing lands in the real one.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "core/log_file.h"

struct LogRecord {
    std::string command, text;
    bool operator==(const LogRecord& o) const { return command == o.command && text == o.text; }
};

inline std::ostream& operator<<(std::ostream& os, const LogRecord& r)
{
    return os << "[" << r.command << "] " << r.text;
}

// Every record of one file, oldest first; a line without a well-formed
// stamp fails the test that reads it.
inline std::vector<LogRecord> logFileRecords(const std::string& path)
{
    static const std::regex record(R"((\d{4}-\d\d-\d\d \d\d:\d\d:\d\d[+-]\d{4}) \[([^\]]*)\] (.*))");
    std::vector<LogRecord> out;
    std::ifstream in(path);
    std::string line;
    std::smatch m;
    while (std::getline(in, line)) {
        EXPECT_TRUE(std::regex_match(line, m, record)) << "malformed record: " << line;
        out.push_back(m.empty() ? LogRecord{"?", line} : LogRecord{m[2], m[3]});
    }
    return out;
}

// XDG_STATE_HOME points into a scratch folder until the object goes.
class ScratchStateHome {
public:
    ScratchStateHome()
    {
        char tmpl[] = "/tmp/ptb-state-XXXXXX";
        folder_ = mkdtemp(tmpl);
        const char* was = getenv("XDG_STATE_HOME");
        hadOld_ = was != nullptr;
        old_ = was ? was : "";
        setenv("XDG_STATE_HOME", folder_.c_str(), 1);
    }
    ~ScratchStateHome()
    {
        if (hadOld_)
            setenv("XDG_STATE_HOME", old_.c_str(), 1);
        else
            unsetenv("XDG_STATE_HOME");
        std::error_code ec;
        std::filesystem::remove_all(folder_, ec);
    }
    const std::string& folder() const { return folder_; }
    std::string log() const { return folder_ + "/pockettetherbox/pockettetherbox.log"; }

private:
    std::string folder_, old_;
    bool hadOld_;
};

// .xls reading over arbitrary bytes, through the helper process: the bytes go to a file of
// this process's own temporary folder and openXlsSource reads it. FreeXL runs in the helper,
// so what is checked here is the reading side: no crash, no sanitizer report, no process or
// descriptor left behind, and the reader comes to an end.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "conversion/data_source.h"

namespace {

std::string scratchDir;

void removeScratch() {
    ::unlink((scratchDir + "/data.xls").c_str());
    ::rmdir(scratchDir.c_str());
}

// A folder of this process's own, made at the first input and removed at exit.
const std::string& scratchFile() {
    static const std::string path = [] {
        char tmpl[] = "/tmp/dormal2k-fuzz-xls-XXXXXX";
        if (::mkdtemp(tmpl) == nullptr) {
            std::perror("mkdtemp");
            std::abort();
        }
        scratchDir = tmpl;
        std::atexit(removeScratch);
        return scratchDir + "/data.xls";
    }();
    return path;
}

// Whether a child of this process is a reading helper, running or not yet collected. Other
// children (the sanitizers' symbolizer) may come and go.
bool helperLeftBehind() {
    const long self = ::getpid();
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string pid = entry.path().filename().string();
        if (pid.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        // "pid (name) state ppid ...": the name may hold blanks, so read from its last ')'.
        std::ifstream in(entry.path() / "stat");
        std::string stat;
        std::getline(in, stat);
        const std::size_t open = stat.find('(');
        const std::size_t close = stat.rfind(')');
        if (open == std::string::npos || close == std::string::npos || close < open) {
            continue;
        }
        char state = 0;
        long ppid = 0;
        if (std::sscanf(stat.c_str() + close + 1, " %c %ld", &state, &ppid) == 2 && ppid == self &&
            stat.compare(open + 1, 12, "dormal2k-xls") == 0) {
            return true;
        }
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string& path = scratchFile();
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        std::abort();
    }
    if (size > 0 && std::fwrite(data, 1, size, f) != size) {
        std::abort();
    }
    std::fclose(f);

    dormal::DataReadOptions opt;
    dormal::Message failure;
    {
        const auto source = dormal::openXlsSource(path, opt, failure);
        if (source) {
            dormal::ReadEvent ev;
            // A sheet has at most 65536 rows; one event a row.
            for (std::size_t budget = 70000;; --budget) {
                source->next(ev);
                if (ev.kind == dormal::ReadEvent::Kind::End || ev.kind == dormal::ReadEvent::Kind::Failure) {
                    break;
                }
                if (budget == 0) {
                    __builtin_trap(); // the reader does not come to an end
                }
            }
        } else if (failure.lines.size() != 3) {
            __builtin_trap();
        }
    }
    if (helperLeftBehind()) {
        __builtin_trap();
    }
    return 0;
}

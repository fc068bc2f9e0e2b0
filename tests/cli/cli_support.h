#pragma once
// Helpers of the batch-converter tests: a scratch folder, running dormal2k-batch as a
// child process (exit status, output, peak memory), and reading and writing the cells of
// small workbooks.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tools/synthetic_grid.h"

#include <expat.h>
#include <xlsxwriter.h>
#include <zip.h>

namespace dormal::clitest {

namespace fs = std::filesystem;

// A folder of its own under the system's temporary folder, removed with everything in it.
// The synthetic map-sheet portion the command-line runs use, around 41.5 N 15 E (zone 33,
// Est): every zone of every system lies within 6 degrees of its points.
inline gridgen::PortionRecipe testSheetRecipe() {
    gridgen::PortionRecipe gen;
    gen.kind = PortionKind::Sheet;
    gen.southLat = 41.40;
    gen.westLon = 14.80;
    gen.name = "4321";
    gen.seed = 7;
    return gen;
}

class ScratchDir {
public:
    ScratchDir() {
        std::string tmpl = (fs::temp_directory_path() / "dormal2k-cli-XXXXXX").string();
        if (::mkdtemp(tmpl.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        path_ = tmpl;
    }
    ~ScratchDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const fs::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    fs::path path_;
};

inline std::string readWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void writeWholeFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

struct ProcessResult {
    int exitCode = -1;     // exit status, or 128 + signal
    std::string out, err;  // standard output and error
    long maxRssKb = 0;     // peak resident memory of the child, kilobytes
    double cpuSeconds = 0; // user and system time of the child
};

struct ProcessOptions {
    std::string stdinPath = "/dev/null";
    std::vector<std::string> env; // NAME=VALUE added to the child's environment
    long long fileSizeLimit = -1; // RLIMIT_FSIZE for the child, bytes; -1 none
    std::string stdoutPath;       // keep standard output in this file (not read back)
};

inline std::string batchExe() {
    return std::string(DORMAL2K_BINARY_DIR) + "/cli/dormal2k-batch";
}

// A started dormal2k-batch process.
struct Started {
    pid_t pid = -1;
    int outFd = -1, errFd = -1;
    std::string outPath, errPath; // empty outPath: standard output kept by the caller
};

// Starts dormal2k-batch with `args`.
inline Started startBatchExe(const std::vector<std::string>& args, const ProcessOptions& opt = {}) {
    Started st;
    std::string outTmpl = (fs::temp_directory_path() / "dormal2k-out-XXXXXX").string();
    std::string errTmpl = (fs::temp_directory_path() / "dormal2k-err-XXXXXX").string();
    if (opt.stdoutPath.empty()) {
        st.outFd = ::mkstemp(outTmpl.data());
        st.outPath = outTmpl;
    } else {
        st.outFd = ::open(opt.stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    }
    st.errFd = ::mkstemp(errTmpl.data());
    st.errPath = errTmpl;
    if (st.outFd < 0 || st.errFd < 0) {
        throw std::runtime_error("cannot create output files");
    }
    std::vector<std::string> argStore{batchExe()};
    argStore.insert(argStore.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argStore) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);

    if (opt.fileSizeLimit < 0) {
        // posix_spawn: no copy of the test's address space (cheap under the sanitizers too).
        // The environment of the test, with the additions replacing variables of their name.
        std::vector<std::string> envStore;
        for (char** e = environ; *e != nullptr; ++e) {
            const std::string_view entry(*e);
            const std::string_view name = entry.substr(0, entry.find('='));
            bool replaced = false;
            for (const std::string& add : opt.env) {
                replaced = replaced || std::string_view(add).substr(0, add.find('=')) == name;
            }
            if (!replaced) {
                envStore.emplace_back(entry);
            }
        }
        envStore.insert(envStore.end(), opt.env.begin(), opt.env.end());
        std::vector<char*> envp;
        for (std::string& e : envStore) {
            envp.push_back(e.data());
        }
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, opt.stdinPath.c_str(), O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, st.outFd, 1);
        posix_spawn_file_actions_adddup2(&actions, st.errFd, 2);
        if (::posix_spawn(&st.pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) {
            st.pid = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        if (st.pid < 0) {
            throw std::runtime_error("cannot start " + argStore[0]);
        }
        return st;
    }
    st.pid = ::fork();
    if (st.pid == 0) {
        const int inFd = ::open(opt.stdinPath.c_str(), O_RDONLY);
        if (inFd < 0) {
            ::_exit(126);
        }
        ::dup2(inFd, 0);
        ::dup2(st.outFd, 1);
        ::dup2(st.errFd, 2);
        for (const std::string& e : opt.env) {
            ::putenv(const_cast<char*>(e.c_str()));
        }
        ::signal(SIGXFSZ, SIG_IGN); // a write past the limit fails with EFBIG instead
        const rlimit lim{static_cast<rlim_t>(opt.fileSizeLimit), static_cast<rlim_t>(opt.fileSizeLimit)};
        ::setrlimit(RLIMIT_FSIZE, &lim);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    return st;
}

// Waits for a started process and reports how it went.
inline ProcessResult finishBatchExe(Started& st) {
    int status = 0;
    rusage usage{};
    ::wait4(st.pid, &status, 0, &usage);
    ProcessResult r;
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.maxRssKb = usage.ru_maxrss;
    r.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                   static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    ::close(st.outFd);
    ::close(st.errFd);
    if (!st.outPath.empty()) {
        r.out = readWholeFile(st.outPath);
        ::unlink(st.outPath.c_str());
    }
    r.err = readWholeFile(st.errPath);
    ::unlink(st.errPath.c_str());
    return r;
}

// Runs dormal2k-batch with `args`, waits for it, and reports how it went.
inline ProcessResult runBatchExe(const std::vector<std::string>& args, const ProcessOptions& opt = {}) {
    Started st = startBatchExe(args, opt);
    return finishBatchExe(st);
}

// Runs several at a time (most of a short run's time is spent waiting for the disk).
inline std::vector<ProcessResult> runBatchExeMany(const std::vector<std::vector<std::string>>& argsList,
                                                  std::size_t atOnce = 8) {
    std::vector<ProcessResult> results(argsList.size());
    for (std::size_t from = 0; from < argsList.size(); from += atOnce) {
        const std::size_t to = std::min(argsList.size(), from + atOnce);
        std::vector<Started> running;
        for (std::size_t i = from; i < to; ++i) {
            running.push_back(startBatchExe(argsList[i]));
        }
        for (std::size_t i = from; i < to; ++i) {
            results[i] = finishBatchExe(running[i - from]);
        }
    }
    return results;
}

// Numbers read with "." whatever the locale.
inline bool parseNumber(std::string_view s, double& v) {
    const auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    return ec == std::errc() && p == s.data() + s.size();
}

// ---------------------------------------------------------------------------------------
// Workbooks.

struct Cell {
    bool isNumber = false;
    double number = 0;
    std::string text;
};
using Sheet = std::map<std::pair<int, int>, Cell>; // (row, column), both from 1

inline std::string zipEntry(zip_t* z, const char* name) {
    zip_stat_t st;
    if (zip_stat(z, name, 0, &st) != 0) {
        return {};
    }
    zip_file_t* f = zip_fopen(z, name, 0);
    if (f == nullptr) {
        return {};
    }
    std::string data(static_cast<std::size_t>(st.size), '\0');
    zip_fread(f, data.data(), st.size);
    zip_fclose(f);
    return data;
}

struct XmlState {
    std::vector<std::string>* shared = nullptr;
    Sheet* sheet = nullptr;
    std::string text;
    bool inText = false;
    int row = 0, col = 0;
    std::string type;
};

inline std::string_view localName(const char* name) {
    std::string_view n(name);
    const std::size_t colon = n.rfind(':');
    return colon == std::string_view::npos ? n : n.substr(colon + 1);
}

inline void XMLCALL onStart(void* data, const char* name, const char** atts) {
    auto* s = static_cast<XmlState*>(data);
    const std::string_view n = localName(name);
    if (n == "si") {
        s->text.clear();
    } else if (n == "t" || n == "v") {
        s->inText = true;
        if (n == "v") {
            s->text.clear();
        }
    } else if (n == "c") {
        s->type.clear();
        s->text.clear();
        for (int i = 0; atts[i] != nullptr; i += 2) {
            const std::string_view a = atts[i];
            if (a == "r") {
                const char* r = atts[i + 1];
                int col = 0;
                while (*r >= 'A' && *r <= 'Z') {
                    col = col * 26 + (*r++ - 'A' + 1);
                }
                s->col = col;
                s->row = std::atoi(r);
            } else if (a == "t") {
                s->type = atts[i + 1];
            }
        }
    }
}

inline void XMLCALL onEnd(void* data, const char* name) {
    auto* s = static_cast<XmlState*>(data);
    const std::string_view n = localName(name);
    if (n == "t" || n == "v") {
        s->inText = false;
    } else if (n == "si" && s->shared != nullptr) {
        s->shared->push_back(s->text);
    } else if (n == "c" && s->sheet != nullptr) {
        Cell c;
        if (s->type == "s") {
            c.text = s->shared->at(static_cast<std::size_t>(std::atoi(s->text.c_str())));
        } else if (s->type == "inlineStr" || s->type == "str") {
            c.text = s->text;
        } else if (!s->text.empty()) {
            c.isNumber = parseNumber(s->text, c.number);
            if (!c.isNumber) {
                c.text = s->text;
            }
        } else {
            return;
        }
        (*s->sheet)[{s->row, s->col}] = c;
    }
}

inline void XMLCALL onText(void* data, const char* t, int len) {
    auto* s = static_cast<XmlState*>(data);
    if (s->inText) {
        s->text.append(t, static_cast<std::size_t>(len));
    }
}

inline void parseXml(const std::string& xml, XmlState& st) {
    XML_Parser p = XML_ParserCreate(nullptr);
    XML_SetUserData(p, &st);
    XML_SetElementHandler(p, onStart, onEnd);
    XML_SetCharacterDataHandler(p, onText);
    XML_Parse(p, xml.data(), static_cast<int>(xml.size()), 1);
    XML_ParserFree(p);
}

// The cells of the first sheet of an .xlsx workbook written by the result writer.
inline Sheet readFirstSheet(const std::string& path) {
    int err = 0;
    zip_t* z = zip_open(path.c_str(), ZIP_RDONLY, &err);
    if (z == nullptr) {
        throw std::runtime_error("not a workbook: " + path);
    }
    std::vector<std::string> shared;
    XmlState ss;
    ss.shared = &shared;
    parseXml(zipEntry(z, "xl/sharedStrings.xml"), ss);
    Sheet sheet;
    XmlState sh;
    sh.shared = &shared;
    sh.sheet = &sheet;
    parseXml(zipEntry(z, "xl/worksheets/sheet1.xml"), sh);
    zip_close(z);
    return sheet;
}

// A data workbook: row 1 headings, then one row a point (A name, B, C, D numbers).
struct DataRow {
    std::string name;
    double first, second, height;
};
inline void writeDataWorkbook(const std::string& path, const std::vector<DataRow>& rows) {
    lxw_workbook* wb = workbook_new(path.c_str());
    lxw_worksheet* ws = workbook_add_worksheet(wb, nullptr);
    worksheet_write_string(ws, 0, 0, "Numero", nullptr);
    worksheet_write_string(ws, 0, 1, "Primo", nullptr);
    worksheet_write_string(ws, 0, 2, "Secondo", nullptr);
    worksheet_write_string(ws, 0, 3, "Quota", nullptr);
    lxw_row_t r = 1;
    for (const DataRow& d : rows) {
        worksheet_write_string(ws, r, 0, d.name.c_str(), nullptr);
        worksheet_write_number(ws, r, 1, d.first, nullptr);
        worksheet_write_number(ws, r, 2, d.second, nullptr);
        worksheet_write_number(ws, r, 3, d.height, nullptr);
        ++r;
    }
    workbook_close(wb);
}

} // namespace dormal::clitest

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace {

// Every test process gets a folder of its own, made before anything reads the environment:
// temporary files (TMPDIR, read by std::filesystem::temp_directory_path, mkdtemp callers
// and QTemporaryDir), the home and the XDG folders (Qt's settings, caches and runtime
// folder). Two test programs, or two copies of one (the C and Italian locale runs), then
// never see each other's files under `ctest -j --schedule-random`. The folder is removed at
// the end unless DORMAL2K_KEEP_TEST_DIR is set.
class ProcessFolder {
public:
    ProcessFolder() {
        const char* base = std::getenv("TMPDIR");
        std::string tmpl = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/dormal2k-test-XXXXXX";
        if (::mkdtemp(tmpl.data()) == nullptr) {
            std::cerr << "cannot create the test's own temporary folder under " << tmpl << '\n';
            std::exit(1);
        }
        root_ = tmpl;
        const struct {
            const char* variable;
            const char* folder;
        } kFolders[] = {
            {"TMPDIR", "tmp"},          {"HOME", "home"},           {"XDG_CONFIG_HOME", "config"},
            {"XDG_CACHE_HOME", "cache"}, {"XDG_DATA_HOME", "data"}, {"XDG_RUNTIME_DIR", "runtime"},
        };
        for (const auto& f : kFolders) {
            const std::string path = root_ + "/" + f.folder;
            // 0700: Qt refuses a runtime folder that others can enter.
            if (::mkdir(path.c_str(), 0700) != 0 || ::setenv(f.variable, path.c_str(), 1) != 0) {
                std::cerr << "cannot prepare " << path << '\n';
                std::exit(1);
            }
        }
    }
    ~ProcessFolder() {
        if (std::getenv("DORMAL2K_KEEP_TEST_DIR") != nullptr)
            return;
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }
    ProcessFolder(const ProcessFolder&) = delete;
    ProcessFolder& operator=(const ProcessFolder&) = delete;

private:
    std::string root_;
};

} // namespace

int main(int argc, char** argv) {
    const ProcessFolder folder;
    // The user's locale, as the programs take it: LC_ALL=it_IT.UTF-8 runs every test with
    // "," as the decimal separator of the C library.
    std::setlocale(LC_ALL, "");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

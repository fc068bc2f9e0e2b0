// dormal2k-batch on .xls data files read through the helper process: a workbook that
// crashes FreeXL ends the run with exit status 1 and the file's message, and the result
// file already there is left byte for byte as it was; the same workbook undamaged converts.
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli_support.h"

namespace dormal::clitest {
namespace {

const fs::path kScript = fs::path(DORMAL2K_TESTS_DIR) / "conversion" / "make_test_xls.py";

class XlsCli : public ::testing::Test {
protected:
    void SetUp() override {
        std::string cmd = "/usr/bin/python3 '";
        cmd += kScript.string();
        cmd += "' '";
        cmd += dir_.path().string();
        cmd += "'";
        ASSERT_EQ(std::system(cmd.c_str()), 0) << "python3-xlwt is needed to write the test workbooks";
    }
    ScratchDir dir_;
};

// The run over the workbook that makes FreeXL 1.0.6 crash: before the helper process the
// batch converter itself died of SIGSEGV (exit status 139).
TEST_F(XlsCli, CrashingWorkbookExits1AndKeepsTheOldResult) {
    const std::string result = dir_.file("out.xlsx");
    writeDataWorkbook(result, {{"OLD", 1, 2, 3}});
    const std::string before = readWholeFile(result);
    for (const char* type : {static_cast<const char*>("excel"), static_cast<const char*>(nullptr)}) {
        std::vector<std::string> args = {"--from", "ETRF2000", "--to", "ETRF2000", "--to-kind", "plane"};
        if (type != nullptr)
            args.insert(args.end(), {"--type", type});
        args.insert(args.end(), {dir_.file("crash.xls"), result});
        const ProcessResult r = runBatchExe(args);
        EXPECT_EQ(r.exitCode, 1) << r.err;
        EXPECT_NE(r.err.find("IMPOSSIBILE APRIRE IL FILE DEI DATI\n" + dir_.file("crash.xls") +
                             "\nfile .xls danneggiato o non leggibile"),
                  std::string::npos)
            << r.err;
        EXPECT_EQ(readWholeFile(result), before);
    }
    // Undamaged, the same workbook gives its two points.
    const ProcessResult ok = runBatchExe({"--from", "ETRF2000", "--to", "ETRF2000", "--to-kind", "plane",
                                          dir_.file("base.xls"), result});
    EXPECT_EQ(ok.exitCode, 0) << ok.err;
    EXPECT_NE(ok.err.find("PUNTI TRATTATI:   2"), std::string::npos) << ok.err;
    const Sheet sheet = readFirstSheet(result);
    EXPECT_EQ(sheet.at({7, 1}).text, "N2");
}

} // namespace
} // namespace dormal::clitest

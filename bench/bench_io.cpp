// Throughput of the data-file readers and the result writers: ASCII lines read per second,
// report points written per second, and a workbook of 50,000 points written and read.
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <streambuf>
#include <string>

#include <benchmark/benchmark.h>
#include <unistd.h>
#include <xlsxwriter.h>

#include "conversion/data_source.h"
#include "conversion/result_writer.h"

namespace {

using namespace dormal;
namespace fs = std::filesystem;

std::string asciiData(int lines) {
    std::string text;
    text.reserve(static_cast<std::size_t>(lines) * 48);
    char buf[128];
    for (int i = 0; i < lines; ++i) {
        const int n = std::snprintf(buf, sizeof buf, "P%d  45,%07d\t9.%07d  %d.%03d\r\n", i, (i * 7919) % 10000000,
                                    (i * 104729) % 10000000, 100 + i % 900, i % 1000);
        text.append(buf, static_cast<std::size_t>(n));
    }
    return text;
}

void BM_AsciiRead(benchmark::State& state) {
    const int lines = static_cast<int>(state.range(0));
    const std::string text = asciiData(lines);
    DataReadOptions opt;
    opt.readHeight = true;
    long points = 0;
    for (auto _ : state) {
        std::istringstream in(text);
        auto src = makeAsciiSource(in, opt);
        ReadEvent ev;
        for (src->next(ev); ev.kind == ReadEvent::Kind::Point; src->next(ev))
            ++points;
        benchmark::DoNotOptimize(ev.point.first);
    }
    state.SetItemsProcessed(points);
    state.SetBytesProcessed(static_cast<long>(text.size()) * state.iterations());
}
BENCHMARK(BM_AsciiRead)->Arg(1000000)->Unit(benchmark::kMillisecond);

class NullBuf : public std::streambuf {
protected:
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
    int overflow(int c) override { return c; }
};

ResultHeader planeHeader() {
    ResultHeader h;
    h.sel.inputSystem = RefSystem::Etrf2000;
    h.sel.inputKind = CoordKind::Geographic;
    h.sel.outputSystem = RefSystem::Etrf2000;
    h.sel.outputKind = CoordKind::Plane;
    h.sel.outputZone = Zone::Auto;
    h.decimalSeparator = ',';
    return h;
}

void BM_ReportWrite(benchmark::State& state) {
    const long points = state.range(0);
    NullBuf nb;
    std::ostream out(&nb);
    DataPoint in{"PUNTO123", 45.12345678, 9.87654321, 120.5};
    PointResult r;
    r.outFirst = 5001234.5678;
    r.outSecond = 512345.678;
    r.zoneText = "32";
    for (auto _ : state) {
        auto w = makeAsciiReportWriter(out);
        w->writeHeader(planeHeader());
        for (long i = 0; i < points; ++i) {
            r.outFirst += 0.001;
            w->writePoint(in, r);
        }
        w->finish();
    }
    state.SetItemsProcessed(points * state.iterations());
}
BENCHMARK(BM_ReportWrite)->Arg(1000000)->Unit(benchmark::kMillisecond);

fs::path benchDir() {
    const fs::path d = fs::temp_directory_path() / ("dormal_bench_io_" + std::to_string(::getpid()));
    fs::create_directories(d);
    return d;
}

void BM_XlsxWrite(benchmark::State& state) {
    const long points = state.range(0);
    const fs::path p = benchDir() / "ris.xlsx";
    DataPoint in{"PUNTO123", 45.12345678, 9.87654321, 120.5};
    PointResult r;
    r.outFirst = 5001234.5678;
    r.outSecond = 512345.678;
    r.zoneText = "32";
    for (auto _ : state) {
        auto w = makeResultFileWriter(p.string(), DataFileType::Excel);
        w->writeHeader(planeHeader());
        for (long i = 0; i < points; ++i)
            w->writePoint(in, r);
        w->finish();
    }
    state.SetItemsProcessed(points * state.iterations());
    fs::remove_all(p.parent_path());
}
BENCHMARK(BM_XlsxWrite)->Arg(50000)->Unit(benchmark::kMillisecond);

// A data workbook of `points` rows, with shared strings (as spreadsheet programs save them)
// or inline strings.
void makeDataWorkbook(const fs::path& p, long points, bool constantMemory) {
    lxw_workbook_options o{};
    o.constant_memory = constantMemory;
    lxw_workbook* wb = workbook_new_opt(p.c_str(), &o);
    lxw_worksheet* ws = workbook_add_worksheet(wb, nullptr);
    worksheet_write_string(ws, 0, 0, "Nome", nullptr);
    for (long i = 0; i < points; ++i) {
        const auto row = static_cast<lxw_row_t>(i + 1);
        char name[32];
        std::snprintf(name, sizeof name, "P%ld", i);
        worksheet_write_string(ws, row, 0, name, nullptr);
        worksheet_write_number(ws, row, 1, 45.1 + static_cast<double>(i) * 1e-6, nullptr);
        worksheet_write_number(ws, row, 2, 9.2 + static_cast<double>(i) * 1e-6, nullptr);
        worksheet_write_number(ws, row, 3, 100.0 + static_cast<double>(i % 1000), nullptr);
    }
    workbook_close(wb);
}

void BM_XlsxRead(benchmark::State& state) {
    const long points = state.range(0);
    const bool shared = state.range(1) != 0;
    const fs::path p = benchDir() / "dati.xlsx";
    makeDataWorkbook(p, points, !shared);
    long read = 0;
    for (auto _ : state) {
        Message failure;
        auto src = openDataFile(p.string(), DataFileType::Excel, {}, failure);
        if (!src) {
            state.SkipWithError(joinedText(failure).c_str());
            break;
        }
        ReadEvent ev;
        for (src->next(ev); ev.kind == ReadEvent::Kind::Point; src->next(ev))
            ++read;
    }
    state.SetItemsProcessed(read);
    state.SetLabel(shared ? "shared strings" : "inline strings");
    fs::remove_all(p.parent_path());
}
BENCHMARK(BM_XlsxRead)->Args({50000, 1})->Args({50000, 0})->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();

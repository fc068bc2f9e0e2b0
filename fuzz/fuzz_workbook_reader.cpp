// Workbook (.xlsx) reading over arbitrary bytes: no crash, no sanitizer report, and the
// reader comes to an end.

#include <cstddef>
#include <cstdint>
#include <string>

#include "conversion/data_source.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    dormal::DataReadOptions opt;
    dormal::Message failure;
    const auto source =
        dormal::openXlsxSourceFromMemory(std::string(reinterpret_cast<const char*>(data), size), opt, failure);
    if (!source) {
        return 0;
    }
    dormal::ReadEvent ev;
    // Deflate expands at most about 1032 to 1 and a sheet row takes some ten bytes of XML,
    // so a workbook of `size` bytes cannot hold more rows than this.
    std::size_t budget = 200 * size + 1000;
    for (;;) {
        source->next(ev);
        if (ev.kind == dormal::ReadEvent::Kind::End || ev.kind == dormal::ReadEvent::Kind::Failure) {
            break;
        }
        if (budget-- == 0) {
            __builtin_trap(); // the reader does not come to an end
        }
    }
    return 0;
}

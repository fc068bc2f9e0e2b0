// ASCII data-file reading over arbitrary bytes, with and without the height field: no
// crash, no sanitizer report, and the reader always moves on (every event uses up input).

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "conversion/data_source.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    for (const bool readHeight : {false, true}) {
        std::istringstream in(bytes);
        dormal::DataReadOptions opt;
        opt.readHeight = readHeight;
        opt.inputKind = readHeight ? dormal::kPlane : dormal::kGeographic;
        const auto source = dormal::makeAsciiSource(in, opt);
        if (!source) {
            __builtin_trap();
        }
        dormal::ReadEvent ev;
        // A point or a reading error takes at least one byte of its line.
        std::size_t budget = size + 2;
        for (;;) {
            source->next(ev);
            if (ev.kind == dormal::ReadEvent::Kind::End || ev.kind == dormal::ReadEvent::Kind::Failure) {
                break;
            }
            if (budget-- == 0) {
                __builtin_trap(); // more events than lines: the reader is not moving on
            }
        }
    }
    return 0;
}

#include "conversion/message.h"

namespace dormal {

std::string joinedText(const Message& m) {
    std::string text;
    for (std::size_t i = 0; i < m.lines.size(); ++i) {
        if (i > 0) {
            text += '\n';
        }
        text += m.lines[i];
    }
    return text;
}

} // namespace dormal

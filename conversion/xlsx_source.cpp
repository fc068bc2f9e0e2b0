#include "conversion/data_source.h"

namespace dormal {

std::unique_ptr<DataSource> openXlsxSource(const std::string&, const DataReadOptions&, Message&) { return nullptr; }
std::unique_ptr<DataSource> openXlsxSourceFromMemory(std::string, const DataReadOptions&, Message&) {
    return nullptr;
}

} // namespace dormal

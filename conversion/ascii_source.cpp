#include "conversion/data_source.h"

namespace dormal {

std::unique_ptr<DataSource> makeAsciiSource(std::istream&, const DataReadOptions&) { return nullptr; }

} // namespace dormal

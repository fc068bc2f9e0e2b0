#include "conversion/result_writer.h"

namespace dormal {

std::unique_ptr<ResultWriter> makeAsciiReportWriter(std::ostream&) { return nullptr; }
std::unique_ptr<ResultWriter> makeResultFileWriter(const std::string&, DataFileType) { return nullptr; }

} // namespace dormal

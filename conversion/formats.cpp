#include "conversion/formats.h"

namespace dormal {

std::string formatPattern(double, std::string_view, char) { return {}; }
std::string formatPlaneField(double, char) { return {}; }
std::string formatSexagesimalField(double, char) { return {}; }
std::string formatHeightField(double, char) { return {}; }
std::string formatDegMin(double, char) { return {}; }
std::string formatKm(double, char) { return {}; }
std::string formatReportPlane(double, char) { return {}; }
std::string formatReportGeo(double, char) { return {}; }
std::string formatReportHeight(double, char) { return {}; }
void appendReportPlane(std::string&, double, char) {}
void appendReportGeo(std::string&, double, char) {}
void appendReportHeight(std::string&, double, char) {}
double sexagesimalDisplayNumber(double typed) { return typed; }
double parseTypedNumber(std::string_view) { return 0; }
bool parseWholeNumber(std::string_view, double&) { return false; }

} // namespace dormal

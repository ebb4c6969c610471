#pragma once

#include "status/status_report.h"

#include <string>

namespace ostrivan {

// The status in the Prometheus text exposition format, for a node exporter's textfile
// collector.
std::string StatusMetrics(const StatusReport& report);

} // namespace ostrivan

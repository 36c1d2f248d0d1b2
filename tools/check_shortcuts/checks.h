// The checks, in the order the programs take their steps, each adding its findings to the report.
#pragma once

#include <string>

#include "findings.h"

// Everything the tool finds for the installed program at `program`: where it lies (local or not,
// its install root and layout), relinfo.xml under the install root (its size, its two values and
// the programs' verdict), whether this account passes the administrator check and runs without
// elevation, the suite's shortcuts in both Programs folders field by field against the
// catalogue, and the leftovers of earlier installs (leftovers.h). Reads only.
Report CheckInstall(const std::wstring& program);

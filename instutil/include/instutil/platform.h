// Windows platform probes: release classification, processor, service pack and registry reads.
#pragma once

#include <windows.h>

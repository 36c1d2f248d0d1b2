#include "instutil/processes.h"

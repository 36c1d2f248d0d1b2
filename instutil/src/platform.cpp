#include "instutil/platform.h"

#include "instutil/environment.h"

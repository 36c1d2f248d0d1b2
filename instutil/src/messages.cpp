#include "instutil/messages.h"

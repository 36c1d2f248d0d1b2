#include "instutil/language.h"

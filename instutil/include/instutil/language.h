// Language selection, the language settings files and the release constants.
#pragma once

#include <windows.h>

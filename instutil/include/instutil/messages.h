// Message boxes and localized string-resource text for dialogs and windows.
#pragma once

#include <windows.h>

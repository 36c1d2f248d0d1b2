// Child processes: starting other programs and ending processes by name.
#pragma once

#include <windows.h>

// Persistent environment variables of the user and the machine.
#pragma once

#include <windows.h>

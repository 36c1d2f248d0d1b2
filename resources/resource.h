// Resource identifiers shared by both programs and the tests that inspect them.
#pragma once

#define IDI_MYICON 101

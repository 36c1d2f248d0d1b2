// The search for what an earlier install or a failed upgrade left in the Programs folders: the
// suite's shortcuts under another folder name or revision, and empty folders of its shape.
#pragma once

#include "findings.h"

void FindLeftovers(Report* report);

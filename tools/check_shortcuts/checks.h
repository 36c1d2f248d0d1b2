// The checks, in the order the programs take their steps. Each adds its findings to the report.
#pragma once

#include "findings.h"

// Where the program lies: local or not, found, its install root and layout.
void CheckProgramPath(Report* report);
// relinfo.xml under the install root: its size, its two values and the programs' verdict.
void CheckReleaseFile(Report* report);
// Whether this account passes the administrator check, and whether it runs without elevation.
void CheckAccount(Report* report);
// The suite's shortcuts in both Programs folders, field by field against the catalogue.
void CheckProgramsFolders(Report* report);

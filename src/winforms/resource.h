#pragma once
// Resource identifiers, shared by brumlis.rc and the code that loads them.

#define IDI_BRUMLIS 1
#define IDB_BANNER 101
#define IDB_PORTRAIT 102

// Resource numbers shared by the resource script and the code that loads
// the resources (plain #defines: windres reads this file too).
#pragma once

#define MB_IDI_APP 1
// Title pictures of ImageList1: MB_IDB_TITLE_BASE + image index (1..3).
#define MB_IDB_TITLE_BASE 100
#define MB_IDB_TITLE_DESIGN 101
#define MB_IDB_TITLE_KO 102
#define MB_IDB_TITLE_EN 103

// The administration menu: the system operator's entry to every administration page.
#pragma once

#include "app/run.h"

// ADMIN: one button per administration page, each opening it in the right frame.
void ShowAdminMenu(Run& run);

// The system settings page and its save.
#pragma once

#include "app/run.h"

// SYSTEM: every installation setting in one form.
void ShowSystemPage(Run& run);

// SYSTEMUPDATE: stores the form into the settings file (the entry reads it back and shows the
// settings page). 0 when stored or refused for lack of rights (the page then shows the
// refusal); kSettingsRefused when a value holds a comma or a line break (nothing stored);
// kSettingsNotWritten when the file could not be written.
inline constexpr int kSettingsRefused = -2;
inline constexpr int kSettingsNotWritten = -3;
int SaveSystemSettings(Run& run);

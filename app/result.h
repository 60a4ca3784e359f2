// The result page of a writing job that could not be done: a title, an error text in red and
// a button that goes back to the form.
#pragma once

#include <string>

#include "app/run.h"

// title and text are message texts (markup as the language file gives it).
void ShowResultPage(Run& run, const std::string& title, const std::string& text);

// The page of an operator's job refused below the operator's level: the page head, the body
// line of the administration pages (with boardBody, that of the board pages), the heading
// the page writes before its level test (markup, may be empty), message 3 and a back button
// labelled message 4.
void ShowOperatorRefusal(Run& run, const std::string& heading = "", bool boardBody = false);
// The end of every refusal: message 3, a back button, and the closing tags.
void WriteRefusalTail(Run& run);

// Searching the boards: the search form and the result page, which shows every message whose
// title, body or writer's name matches as a message block under its folder's line.
#pragma once

#include <string>
#include <vector>

#include "app/run.h"

// Words of a search condition: the text cut at every single space, at most ten words (the
// rest of the text is ignored); two spaces in a row give an empty word. Ten slots, empty ones
// included.
std::vector<std::string> SearchWords(const std::string& condition);

// SEARCH: the form (words, writer name, any or all words, one folder or all).
void ShowSearchForm(Run& run);
// SEARCHDISP: the readable folders in scope, each with its matching messages.
void ShowSearchResults(Run& run);

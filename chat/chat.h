// Chat rooms: the two-frame page of a chat room folder, its input frame (enter with a name and
// colour, type lines, leave) and its log frame (stores a typed line, shows the newest lines and
// reloads itself).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "app/run.h"

// CHAT: the frameset of the input frame CHAT1 and the log frame CHAT2.
void ShowChatFrames(Run& run);
// CHAT_UP: the input frame; FAST 1 enters the room, 3 leaves it.
void ShowChatInput(Run& run);
// CHAT_DOWN: the log frame; with MTALK it stores the line and reloads itself at once.
void ShowChatLog(Run& run);

// All three pages are refused (the refusal body) unless the folder is a chat room of the tree
// and the caller has at least read rights on it.
bool MayUseChatRoom(Run& run, int folderNo);

// value HTML-escaped and cut to what a stored field of slotSize bytes holds with its terminator:
// whole characters only, so neither an entity nor a two-byte character is split; a lead byte
// without its second byte is dropped.
std::string EscapeToSlot(std::string_view value, size_t slotSize);

// Attachments leave the board only through the program: the job ATTACHMENT sends one stored
// attachment file to a caller who may read its folder.
#pragma once

#include "app/run.h"

// ATTACHMENT: fields SKEY, FOLDER_NO, SEL_NO (message) and ADD_NO (slot). Sends the file named
// by the message's attachment record of that slot, its bytes unchanged, as a download under
// its stored name. Refused with the refusal body (page head, message 3, back button) when the
// caller's rights on the folder are below read, the folder is no board, the message is missing
// or flagged deleted, no record names a file for the slot, or the file is not there.
void SendAttachment(Run& run);

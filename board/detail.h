// The message detail page (job DETAILS) and the pieces of a shown message: header table,
// reader list, writer picture and cell, body, attachment list and thread table. The pieces are
// separate so that pages listing several messages one below the other (unread messages,
// search results) show each message the same way; `view` tells which of the two a piece
// is written for where they differ.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/run.h"
#include "store/attachments.h"
#include "store/folders.h"
#include "store/messages.h"

enum class MessageView {
    kDetail,  // the detail page of one message
    kBlock,   // a message block of a list of messages
};

// The colour of quoted lines: the folder's RESFONTCOLOR, or "0000FF".
std::string QuoteColour(const FolderSettings& settings);

// The four lines (messages 285 to 288) shown instead of a deleted message's header and body.
void WriteDeletedNotice(Run& run, MessageView view);

// The header table: number (detail page only), title, reader list (read-check mode 2), the
// writer's picture, writer and date. linkMode is the display mode of the title link of a
// block; the detail page's title carries no link of its own but passes LinkUrls.
void WriteMessageHeader(Run& run, int folderNo, const MessageIndexEntry& entry, MessageView view,
                        int linkMode);
// The reader list cell (read-check mode 2), with the form around it on the detail page.
void WriteReaderList(Run& run, int folderNo, const MessageIndexEntry& entry, MessageView view);
// The writer's picture cell, when the writer is a listed user with a picture.
void WriteWriterPicture(Run& run, int folderNo, const MessageIndexEntry& entry);
// The writer's name and id, inside a mail link when the writer has an e-mail address.
void WriteWriterCell(Run& run, int folderNo, const MessageIndexEntry& entry);

// The body as it is shown: quoted lines coloured, then by HTML mode 0 links and line breaks,
// 1 one <PRE> block, 2 as written; then cleaned (CleanBodyHtml). A missing body is empty.
std::string PrepareMessageBody(Run& run, int folderNo, const MessageIndexEntry& entry,
                               const FolderSettings& settings);

// The attachment list (entries with an attachment count of 1 or more): every slot 1..ADD_MAX
// with an attachment record, linked to the ATTACHMENT job, with the size of the stored file
// under ADD_FILE_PATH (-1 when it is missing).
void WriteAttachmentList(Run& run, int folderNo, const MessageIndexEntry& entry,
                         const FolderSettings& settings);
// The same from the folder's attachment records as read (add_file.dat in file order).
void WriteAttachmentList(Run& run, int folderNo, const MessageIndexEntry& entry,
                         const FolderSettings& settings, const std::vector<AttachmentEntry>& all);

// The thread table, when the entry's thread has a second record: every record of the thread in
// index order, "NowDisp" on the entry itself, links carrying linkMode. index is the folder's
// index in file order.
void WriteThreadTable(Run& run, int folderNo, const MessageIndexEntry& entry, int linkMode,
                      const RawMessageIndex& index);

// A board whose messages are shown one below the other (message blocks): its index as read
// once (number and thread fields; records unpacked when shown) and its settings, and what the
// blocks share, found on first use and kept: where each thread's records lie and the board's
// attachment records.
class ShownBoard {
public:
    ShownBoard(Run& run, int folderNo);
    // With an index read by the caller.
    ShownBoard(Run& run, int folderNo, RawMessageIndex index);

    int folderNo() const { return folderNo_; }
    const RawMessageIndex& index() const { return index_; }
    const FolderSettings& settings() const { return settings_; }
    // Positions of the records of the thread, in file order.
    std::vector<size_t> Thread(int32_t threadNo);
    // add_file.dat in file order, read on first use.
    const std::vector<AttachmentEntry>& Attachments();

private:
    Run& run_;
    int folderNo_;
    RawMessageIndex index_;
    FolderSettings settings_;
    std::vector<uint64_t> byThread_;  // thread number (ordered) above, position below
    std::optional<std::vector<AttachmentEntry>> attachments_;
};

// The message as the detail page and a message block show it: the notice of a deleted message,
// or the header table, the body (in the folder's FONTCOLOR; between rules on the detail page)
// and the attachment list; then the thread table. linkMode is the display mode of the links;
// index is the folder's index in file order. Writes no read mark.
void WriteShownMessage(Run& run, int folderNo, const MessageIndexEntry& entry,
                       const FolderSettings& settings, MessageView view, int linkMode,
                       const RawMessageIndex& index);
// The same for a message of a board shown block by block, with the board's settings.
void WriteShownMessage(Run& run, ShownBoard& board, const MessageIndexEntry& entry,
                       MessageView view, int linkMode);

// Neighbours of message selNo in the list of the display mode, and the list page that holds it.
// Mode 1 walks the index in file order; modes 2 and 3 walk the numbers 1 up to the number of
// the last record of the file. previous/next are 0 when there is none; page is 0 when the walk
// did not reach the message.
struct MessageNeighbours {
    int previous = 0;
    int next = 0;
    int page = 0;
};
MessageNeighbours FindNeighbours(const std::vector<MessageIndexEntry>& index, int mode, int selNo);
MessageNeighbours FindNeighbours(const RawMessageIndex& index, int mode, int selNo);

// The job DETAILS. A message number the folder does not hold is refused like missing rights,
// without a read mark.
void ShowMessageDetail(Run& run);

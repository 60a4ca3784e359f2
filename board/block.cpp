#include "board/block.h"

#include "app/menu.h"
#include "app/rights.h"
#include "board/common.h"
#include "board/detail.h"
#include "cgi/html.h"
#include "cgi/request.h"

std::vector<FolderRecord> ReadableFolders(Run& run) {
    std::vector<FolderRecord> shown;
    bool hiding = false;
    int hiddenDepth = 0;
    for (const FolderRecord& f : FolderTree(run)) {
        if (hiding && f.indentation > hiddenDepth) continue;
        hiding = false;
        if (FolderRights(run, f.folderNo) < kRightsRead) {
            hiding = true;
            hiddenDepth = f.indentation;
            continue;
        }
        shown.push_back(f);
    }
    return shown;
}

void WriteFolderLine(Run& run, const FolderRecord& folder, bool withNumber) {
    Output& o = run.out;
    o.Printf("<IMG SRC=\"%s%s\"><B>", HtmlEscape(run.settings.CG_FILE_WEB_PATH).c_str(),
             HtmlEscape(FolderPicture(run, folder)).c_str());
    if (withNumber) o.Printf("[%d]", folder.folderNo);
    o << HtmlEscape(folder.name) << "</B><BR>\n";
}

void WriteMessageBlock(Run& run, ShownBoard& board, const MessageIndexEntry& entry,
                       bool withCheckbox) {
    Output& o = run.out;
    if (withCheckbox) {
        const bool all = IntField(run, "CHK_ALL", kKeyFieldCapacity) == 1;
        o.Printf("<INPUT TYPE=\"checkbox\" NAME=\"FOLSEL\" VALUE=\"%d,%d\"%s>SEL:%d<BR>\n",
                 board.folderNo(), entry.messageNo, all ? " checked " : "", entry.messageNo);
    }
    WriteShownMessage(run, board, entry, MessageView::kBlock, run.login.user.USER_DISP_DEF);
    o << "<HR>\n";
}

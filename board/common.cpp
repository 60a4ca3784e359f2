#include "board/common.h"

#include <algorithm>

#include "app/result.h"
#include "app/session.h"
#include "cgi/html.h"
#include "cgi/request.h"
#include "store/recordfile.h"

void WriteRefusalBody(Run& run) {
    WriteBackgroundBody(run);
    WriteRefusalTail(run);
}

void WriteFolderBodyTag(Run& run, int folderNo, const FolderSettings& settings) {
    const std::string webPath = HtmlEscape(run.settings.CG_FILE_WEB_PATH);
    if (!settings.BACKPIC.empty()) {
        run.out.Printf("<BODY BACKGROUND=\"%s%d/%s\" BGPROPERTIES=FIXED >\n", webPath.c_str(),
                       folderNo, HtmlEscape(settings.BACKPIC).c_str());
    } else if (!run.settings.BACK_GIF.empty()) {
        WriteBackgroundBody(run);
    }
}

void WriteFolderTitle(Run& run, int folderNo, const std::string& name) {
    run.out << "<TABLE>\n<TR>\n<TD BGCOLOR=\"#FFFFFF\">";
    run.out.Printf("<FONT SIZE=\"5\"><B>[%d]%s</B></FONT>", folderNo, HtmlEscape(name).c_str());
    run.out << "</TD>\n</TR>\n</TABLE>\n";
}

static std::string UpperId(std::string id) {
    UpperCaseId(id);
    return id;
}

const UserRecord* FindListedUser(Run& run, const std::string& id) {
    if (id.empty()) return nullptr;
    if (!run.cache.usersLoaded) return NamedUser(run, id);
    const std::vector<UserRecord>& users = ListedUsers(run);
    // Stored ids are compared exactly first (the common case), then as FindUser compares.
    for (const UserRecord& u : users)
        if (u.USER_ID == id) return &u;
    const std::string key = UpperId(id);
    for (const UserRecord& u : users)
        if (UpperId(u.USER_ID) == key) return &u;
    return nullptr;
}

std::string WriterName(Run& run, const std::string& id) {
    const UserRecord* u = FindListedUser(run, id);
    return u != nullptr ? u->USER_NAME : id;
}

std::string ShownDate(const Run& run, const std::string& date) {
    if (run.settings.DATETIME == 2 && date.size() > 10) return date.substr(0, 10);
    return date;
}

int IntField(Run& run, const char* name, size_t capacity) {
    return ParseInt(GetField(run.fields, name, 0, capacity));
}

int RequestedDisplayMode(Run& run, size_t capacity) {
    int mode = IntField(run, "USER_DISP_DEF", capacity);
    if (mode == 0) mode = run.login.user.USER_DISP_DEF;
    return mode;
}

std::string ScriptAttr(const Run& run) { return HtmlEscape(run.settings.scriptName); }

std::string KeyAttr(const Run& run) {
    return HtmlEscape(CutToSlot(run.login.SKEY, kKeyFieldCapacity));
}

void WriteHidden(Run& run, const char* name, const std::string& value) {
    run.out.Printf("<INPUT TYPE=\"hidden\" NAME=\"%s\" VALUE=\"%s\">\n", name,
                   HtmlEscape(value).c_str());
}

void WriteHidden(Run& run, const char* name, int value) {
    run.out.Printf("<INPUT TYPE=\"hidden\" NAME=\"%s\" VALUE=\"%d\">\n", name, value);
}

FolderSettings FolderSettingsOrEmpty(Run& run, int folderNo) {
    const FolderSettings* fs = CachedFolderSettings(run, folderNo);
    FolderSettings settings = fs != nullptr ? *fs : FolderSettings{};
    // The number of attachment slots drives the pages' loops: a damaged record must not.
    settings.ADD_MAX = std::clamp(settings.ADD_MAX, 0, kMaxAttachmentSlots);
    return settings;
}

std::string FolderName(Run& run, int folderNo) {
    for (const FolderRecord& f : FolderTree(run))
        if (f.folderNo == folderNo) return f.name;
    return "";
}

void WriteThreadIndent(Output& out, int32_t depth, size_t threadLength) {
    const size_t levels = depth > 0 ? std::min(static_cast<size_t>(depth), threadLength) : 0;
    for (size_t d = 0; d < levels; ++d) out << "&nbsp;&nbsp;";
}

size_t ThreadLength(const std::vector<MessageIndexEntry>& index, int32_t threadNo) {
    size_t n = 0;
    for (const MessageIndexEntry& e : index) n += e.threadNo == threadNo;
    return n;
}

std::string AttachmentLink(const Run& run, int folderNo, int messageNo, int slot) {
    return ScriptAttr(run) + "?SKEY=" + KeyAttr(run) + "&JOB=ATTACHMENT&FOLDER_NO=" +
           std::to_string(folderNo) + "&SEL_NO=" + std::to_string(messageNo) +
           "&ADD_NO=" + std::to_string(slot);
}

#include "app/jobs.h"

#include <set>
#include <string>

#include "admin/accesslog.h"
#include "admin/export.h"
#include "admin/folderconfig.h"
#include "admin/folders.h"
#include "admin/groups.h"
#include "admin/menu.h"
#include "admin/system.h"
#include "admin/users.h"
#include "app/menu.h"
#include "app/result.h"
#include "app/rights.h"
#include "app/session.h"
#include "board/applications.h"
#include "board/attachment.h"
#include "board/batch.h"
#include "board/delete.h"
#include "board/detail.h"
#include "board/list.h"
#include "board/post.h"
#include "board/search.h"
#include "board/unread.h"
#include "chat/chat.h"

// Message numbers in the table are written as msg(N), as everywhere else in the program.
static constexpr int msg(int n) { return n; }

static void ShowTop(Run& run) { ShowTopFrames(run, run.login.SKEY); }

// Log-off exists only for member accounts with a session key.
static bool MayLogOff(const Run& run) {
    return run.login.user.MODE == kMemberAccount && !run.login.SKEY.empty();
}
// The own-profile page exists only for member accounts and only while the setting MYDATA is 0
// (its save refuses itself otherwise).
static bool MayEditOwnData(const Run& run) {
    return run.settings.MYDATA == 0 && run.login.user.MODE == kMemberAccount;
}

// Result pages shared by the three jobs of the user save handler.
static std::vector<JobOutcome> UserSaveOutcomes(const char* savedPage, const char* listPage) {
    return {
        {2, listPage, 0, 0},          {3, listPage, 0, 0},
        {1, savedPage, 0, 0},         {4, savedPage, 0, 0},
        {-1, nullptr, msg(109), msg(3)},   {-2, nullptr, msg(109), msg(181)},
        {-3, nullptr, msg(109), msg(182)}, {-4, nullptr, msg(109), msg(312)},
        {-5, nullptr, msg(109), msg(327)}, {-6, nullptr, msg(109), msg(362)},
        {-7, nullptr, msg(109), msg(363)}, {-8, nullptr, msg(109), msg(364)},
        {kUserNotStored, nullptr, msg(109), msg(382)},
    };
}

const std::vector<JobRoute>& JobTable() {
    // clang-format off
    static const std::vector<JobRoute> table = {
        // Session and menu
        {.job = "TOP", .page = ShowTop},
        {.job = "LOGOFF", .page = LogOff, .allowed = MayLogOff},
        {.job = "FRM21", .page = ShowFolderMenu},
        {.job = "BORDWRITEFIN", .page = ShowPostingClosePage},  // also served before any login

        // Own data and unread settings
        {.job = "MYDATA", .page = ShowOwnProfile, .allowed = MayEditOwnData},
        {.job = "SETNOREAD", .page = ShowUnreadSettings},
        {.job = "SETNOREAD_WR", .write = SaveUnreadSettings, .then = "SETNOREAD"},

        // Administration
        {.job = "ADMIN", .page = ShowAdminMenu},
        {.job = "SYSTEM", .page = ShowSystemPage},
        {.job = "SYSTEMUPDATE", .write = SaveSystemSettings, .then = "SYSTEM",
         .outcomes = {{kSettingsRefused, nullptr, msg(108), msg(362)},
                      {kSettingsNotWritten, nullptr, msg(108), msg(382)}},
         .reloadSettings = true},
        {.job = "USERLIST", .page = ShowUserList},
        {.job = "USERMENT", .page = ShowUserEditPage},
        {.job = "USERWR", .write = SaveUser,
         .outcomes = UserSaveOutcomes("USERMENT", "USERLIST")},
        {.job = "NEWUSERWR", .write = SaveUser,
         .outcomes = UserSaveOutcomes("USERMENT", "USERLIST")},
        {.job = "MYDATAWR", .write = SaveUser,
         .outcomes = UserSaveOutcomes("MYDATA", "MYDATA")},  // refuses itself (-1) while MYDATA is 1
        {.job = "GROUPLIST", .page = ShowGroupList},
        {.job = "NEWGROUP", .page = ShowNewGroupPage},
        {.job = "NEWGROUPWR", .write = SaveGroupJob,
         .outcomes = {{0, "GROUPLIST", 0, 0}, {2, nullptr, msg(154), msg(156)},
                      {3, nullptr, msg(154), msg(157)}, {4, nullptr, msg(154), msg(158)},
                      {kGroupNameRefused, nullptr, msg(154), msg(362)},
                      {kGroupNotStored, nullptr, msg(154), msg(382)}}},
        {.job = "EDITGROUP", .page = ShowEditGroupPage},
        {.job = "DELGROUP", .page = ShowDeleteGroupPage},
        {.job = "DELGROUPWR", .write = DeleteGroupJob, .then = "GROUPLIST",
         .outcomes = {{kGroupNotStored, nullptr, msg(161), msg(382)}}},
        {.job = "FOLDERLIST", .page = ShowFolderAdminList},
        {.job = "NEWFOLDER", .page = ShowNewFolderForm},
        {.job = "NEWFOLDERWR", .write = CreateFolderJob,
         .outcomes = {{0, "FOLDERLIST", 0, 0}, {1, nullptr, msg(193), msg(206)},
                      {2, nullptr, msg(193), msg(207)}, {3, nullptr, msg(193), msg(362)},
                      {4, nullptr, msg(193), msg(385)}, {-1, nullptr, msg(193), msg(382)}}},
        {.job = "DELFOLDER", .page = ShowDeleteFolderForm},
        {.job = "DELFOLDERWR", .write = DeleteFolderJob, .then = "FOLDERLIST",
         .outcomes = {{-1, nullptr, msg(208), msg(382)}}},
        {.job = "BORDCONFIG", .page = ShowFolderConfig},
        {.job = "BORDCONFIGWR", .write = SaveFolderConfig,
         .outcomes = {{0, "BORDCONFIG", 0, 0}, {-1, nullptr, msg(109), msg(3)},
                      {-2, nullptr, msg(190), msg(206)}, {-3, nullptr, msg(190), msg(362)},
                      {-4, nullptr, msg(190), msg(382)}}},
        {.job = "BORDACCESS", .page = ShowFolderAccess},
        {.job = "BORDACCESSWR", .write = SaveFolderAccess,
         .outcomes = {{0, "BORDACCESS", 0, 0}, {-1, nullptr, msg(109), msg(3)},
                      {kAccessNotStored, nullptr, msg(191), msg(382)}}},
        {.job = "BORDMOVE", .page = ShowMoveFolderForm},
        {.job = "BORDMOVEWR", .write = MoveFolderJob,
         .outcomes = {{0, "FOLDERLIST", 0, 0}, {-1, nullptr, msg(239), msg(3)},
                      {-2, nullptr, msg(239), msg(207)}, {-3, nullptr, msg(239), msg(242)},
                      {kMoveNotStored, nullptr, msg(239), msg(382)}}},
        {.job = "FOLDER_DOWNLOAD", .page = ExportFolderTree},
        {.job = "FOLDER_UPLOAD", .write = ImportFolderTree, .then = "FOLDERLIST",
         .outcomes = {{-1, nullptr, msg(184), msg(382)}, {-2, nullptr, msg(184), msg(386)}}},
        {.job = "AccessLogDISP", .page = ShowAccessLogMenu},
        {.job = "AccessLogDOWNLOAD", .page = DownloadAccessLog},
        {.job = "AccessLogLastLogin", .page = ShowLastLogins},
        {.job = "AccessLogDeleteUser", .write = DeleteLoggedUsers, .then = "AccessLogLastLogin",
         .outcomes = {{kLogDeleteNotStored, nullptr, msg(112), msg(382)}}},

        // Boards
        {.job = "ROOM", .page = ShowFolderList},
        {.job = "BORDWRITE", .page = ShowPostingForm},
        {.job = "EDITMSG", .page = ShowPostingForm},
        {.job = "BORDWRITEWR", .write = SaveMessage,
         .outcomes = {{0, "ROOM", 0, 0}, {-1, nullptr, msg(278), msg(3)},
                      {-2, nullptr, msg(278), msg(295)}, {-4, nullptr, msg(278), msg(296)},
                      {-5, nullptr, msg(278), msg(377)}}},
        {.job = "DETAILS", .page = ShowMessageDetail},
        {.job = "ATTACHMENT", .page = SendAttachment},
        {.job = "DELMSG", .write = DeleteMessage, .then = "ROOM",
         .outcomes = {{kDeleteNotStored, nullptr, msg(109), msg(382)}}},
        {.job = "BORDALLFLG", .write = MarkFolderRead, .then = "ROOM",
         .outcomes = {{kMarksNotStored, nullptr, msg(256), msg(382)}}},
        {.job = "IDSINSEI", .page = ShowApplicationForm},
        {.job = "IDSINSEIWR", .write = SaveApplication,
         .outcomes = {{0, "IDSINSEIlist", 0, 0}, {-1, nullptr, msg(311), msg(181)},
                      {-2, nullptr, msg(311), msg(182)}, {-3, nullptr, msg(311), msg(312)},
                      {-4, nullptr, msg(311), msg(313)}, {-5, nullptr, msg(311), msg(327)},
                      {-6, nullptr, msg(311), msg(362)}, {-7, nullptr, msg(311), msg(363)},
                      {-8, nullptr, msg(311), msg(364)},
                      {kApplicationNotStored, nullptr, msg(311), msg(382)}}},
        {.job = "IDSINSEIlist", .page = ShowApplicationList},
        {.job = "IDSINSEIlist2", .page = ShowPendingApplications},
        {.job = "IDSINSEIsysopWR", .write = DecideApplications, .then = "IDSINSEIlist2",
         .outcomes = {{kDecisionNotStored, nullptr, msg(311), msg(382)}}},
        {.job = "NRDETAILS", .page = ShowUnreadMessages},
        {.job = "NRDETAILSWR", .write = SaveUnreadMarks, .then = "NRDETAILS"},
        {.job = "SEARCH", .page = ShowSearchForm},
        {.job = "SEARCHDISP", .page = ShowSearchResults},
        {.job = "BATCH_UPLOAD", .page = ShowBatchUploadForm},
        {.job = "BATCH_UPLOAD_WR", .page = BatchUpload},  // writes its own page

        // Chat
        {.job = "CHAT", .page = ShowChatFrames},
        {.job = "CHAT_UP", .page = ShowChatInput},
        {.job = "CHAT_DOWN", .page = ShowChatLog},
    };
    // clang-format on
    return table;
}

// The jobs of the system operator. Folder settings and access lists are not among them: a
// folder's managers use those too.
static const std::set<std::string_view> kOperatorJobs = {
    "ADMIN",           "SYSTEM",            "SYSTEMUPDATE",       "USERLIST",
    "USERMENT",        "USERWR",            "NEWUSERWR",          "GROUPLIST",
    "NEWGROUP",        "NEWGROUPWR",        "EDITGROUP",          "DELGROUP",
    "DELGROUPWR",      "FOLDERLIST",        "NEWFOLDER",          "NEWFOLDERWR",
    "DELFOLDER",       "DELFOLDERWR",       "BORDMOVE",           "BORDMOVEWR",
    "FOLDER_DOWNLOAD", "FOLDER_UPLOAD",     "AccessLogDISP",      "AccessLogDOWNLOAD",
    "AccessLogLastLogin", "AccessLogDeleteUser", "IDSINSEIlist2", "IDSINSEIsysopWR",
};
// Operator jobs that answer with a file: refused, they send nothing at all.
static const std::set<std::string_view> kOperatorDownloads = {"FOLDER_DOWNLOAD",
                                                              "AccessLogDOWNLOAD"};

bool IsOperatorJob(std::string_view job) { return kOperatorJobs.count(job) != 0; }

// The refusal page of an operator's page job, as the page itself writes it below the level:
// some pages write their heading first, the application list has the board pages' body line.
static void ShowOperatorPageRefusal(Run& run, std::string_view job) {
    auto heading = [&run](const std::string& text, const char* after) {
        return "<FONT SIZE=\"5\"><B>" + text + "</B></FONT>" + after;
    };
    if (job == "ADMIN")
        ShowOperatorRefusal(run, heading(run.msg(104), "\n<P>\n"));
    else if (job == "AccessLogDISP")  // the log pages' frame adds a paragraph to the title
        ShowOperatorRefusal(run, heading(run.msg(112), "<P>\n<P>\n"));
    else if (job == "AccessLogLastLogin")
        ShowOperatorRefusal(run, heading(run.msg(112) + " " + run.msg(247), "<P>\n<P>\n"));
    else if (job == "IDSINSEIlist2")
        ShowOperatorRefusal(run, heading(run.msg(311), "<P>\n"), true);
    else
        ShowOperatorRefusal(run);
}

// An operator job asked for by a lower level: what the job itself answers to such a caller,
// without running it. A download sends nothing; a writing step shows its result page for a
// refusal, or else the refusal of the page that follows it.
static void RefuseOperatorJob(Run& run, const JobRoute& route) {
    if (kOperatorDownloads.count(route.job) != 0) return;
    // A writing step is known by its follow-up also while its handler is not plugged in.
    if (route.write == nullptr && route.then == nullptr && route.outcomes.empty()) {
        ShowOperatorPageRefusal(run, route.job);
        return;
    }
    const char* next = route.then;
    for (const JobOutcome& outcome : route.outcomes) {
        // The result page of a refused step is the one whose text is the refusal, message 3.
        if (outcome.page == nullptr && outcome.textMsg == msg(3)) {
            ShowResultPage(run, run.msg(outcome.titleMsg), run.msg(outcome.textMsg));
            return;
        }
        if (outcome.code == 0 && outcome.page != nullptr) next = outcome.page;
    }
    ShowOperatorPageRefusal(run, next != nullptr ? next : route.job);
}

const JobRoute* FindJobRoute(std::string_view job) {
    for (const JobRoute& route : JobTable())
        if (job == route.job) return &route;
    return nullptr;
}

// The page of a job, as the job itself or as the page that follows a writing step.
static void ShowJobPage(Run& run, const JobRoute* route) {
    if (route == nullptr || route->page == nullptr) return;
    if (route->allowed != nullptr && !route->allowed(run)) return;
    route->page(run);
}

void DispatchJob(Run& run) {
    const JobRoute* route = FindJobRoute(run.login.JOB);
    if (route == nullptr) return;
    if (route->allowed != nullptr && !route->allowed(run)) return;
    if (IsOperatorJob(route->job) && run.login.user.USER_LEVEL <= kOperatorLevelAbove) {
        RefuseOperatorJob(run, *route);
        return;
    }
    if (route->page != nullptr) {
        route->page(run);
        return;
    }
    if (route->write == nullptr) return;

    const int code = route->write(run);
    ForgetCaches(run);  // the follow-up page shows the data as the step left it
    if (route->reloadSettings)
        LoadSettings(run.settings, run.msg, run.settings.settingsFile);

    const char* next = route->then;
    for (const JobOutcome& outcome : route->outcomes) {
        if (outcome.code != code) continue;
        if (outcome.page == nullptr) {
            ShowResultPage(run, run.msg(outcome.titleMsg), run.msg(outcome.textMsg));
            return;
        }
        next = outcome.page;
        break;
    }
    if (next != nullptr) ShowJobPage(run, FindJobRoute(next));
}

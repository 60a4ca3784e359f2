#include "app/entry.h"

#include <cstdlib>
#include <ctime>

#include "app/jobs.h"
#include "app/result.h"
#include "app/run.h"
#include "app/session.h"
#include "cgi/files.h"
#include "store/journal.h"
#include "store/recordfile.h"

// Request fields of the entry are read with this capacity (at most 21 bytes kept).
static constexpr size_t kEntryFieldCapacity = 22;

std::string SettingsFileNameOf(const std::string& programPath) {
    const size_t sep = programPath.find_last_of("/\\");
    const size_t dot = programPath.find_last_of('.');
    std::string base = programPath;
    if (dot != std::string::npos && (sep == std::string::npos || dot > sep)) base.resize(dot);
    return base + ".ini";
}

std::string ScriptNameOf(const std::string& programPath) {
    std::string name = programPath;
    CutToLastSeparator(name, '\\');
    CutToLastSeparator(name, '/');
    return name;
}

// Forwards to the real sink and notes whether anything was written.
class WatchedOutput : public Output {
public:
    explicit WatchedOutput(Output& inner) : inner_(inner) {}
    void Write(std::string_view bytes) override {
        if (!bytes.empty()) written_ = true;
        inner_.Write(bytes);
    }
    void Flush() override { inner_.Flush(); }
    bool written() const { return written_; }

private:
    Output& inner_;
    bool written_ = false;
};

RequestLimits RequestLimitsOf(const SystemSettings& settings) {
    RequestLimits limits;
    if (settings.MAX_REQUEST_SIZE >= 1) limits.maxRequestBytes = settings.MAX_REQUEST_SIZE;
    if (settings.MAX_UPLOAD_FILES >= 1) limits.maxUploadFiles = settings.MAX_UPLOAD_FILES;
    return limits;
}

static std::string EnvText(const char* name) {
    const char* v = getenv(name);
    return v ? std::string(v) : std::string();
}

// Establishes the caller. false when the run ends here (a page has been written).
static bool EstablishCaller(Run& run) {
    LoginState& login = run.login;
    if (!login.SKEY.empty()) {
        if (!CheckSessionKey(run, login.SKEY)) {
            login.SKEY.clear();
            ShowExpiredPage(run);
            return false;
        }
        // From here on the key travels on as the number it names.
        login.SKEY = std::to_string(ParseInt(login.SKEY));
        return true;
    }
    if (login.uid.empty()) {
        ShowLoginPage(run);
        return false;
    }
    const int32_t key = LoginUser(run, login.uid, login.upw);
    if (key < 0) {
        ShowLoginPage(run, key == kLoginRefusedForNow ? run.msg(381)
                           : key == kLoginNotStored   ? run.msg(382)
                                                      : std::string());
        return false;
    }
    login.SKEY = std::to_string(key);
    login.JOB = "TOP";
    return true;
}

int RunRequest(const std::string& programPath, const CgiInput& input, Output& sink) {
    WatchedOutput out(sink);
    Run run(out);
    run.now = time(nullptr);
    run.workDir = input.workDir;
    run.remoteAddr = EnvText("REMOTE_ADDR");
    run.userAgent = EnvText("HTTP_USER_AGENT");

    run.settings.settingsFile = SettingsFileNameOf(programPath);
    LoadSettings(run.settings, run.msg, run.settings.settingsFile);
    run.settings.scriptName = ScriptNameOf(programPath);
    // A change of several record files that a killed run left half done is finished first,
    // so that this run reads them in step.
    CompletePendingChange(run.dataDir());

    CgiInput request = input;
    request.limits = RequestLimitsOf(run.settings);
    const int decoded = DecodeRequest(request, run.fields);
    LoginState& login = run.login;
    login.uid = GetField(run.fields, "uid", 0, kEntryFieldCapacity);
    login.upw = GetField(run.fields, "upw", 0, kEntryFieldCapacity);
    login.JOB = GetField(run.fields, "JOB", 0, kEntryFieldCapacity);
    login.SKEY = GetField(run.fields, "SKEY", 0, kEntryFieldCapacity);

    if (decoded == kRequestTooLarge) {
        // Nothing of the request was taken: the browser is told so and keeps its form.
        out << "Status: 413 Request Entity Too Large\n";
        ShowResultPage(run, run.msg(396), run.msg(397));
    } else if (login.JOB == "BORDWRITEFIN") {
        ShowPostingClosePage(run);
    } else if (EstablishCaller(run)) {
        if (login.JOB.empty()) login.JOB = "TOP";
        DispatchJob(run);
    }

    if (!out.written()) out << "Status: 204 No Content\n\n";
    out.Flush();
    FinishRequest(run.fields, run.workDir, time(nullptr));
    return 0;
}

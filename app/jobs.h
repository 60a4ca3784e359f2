// The job dispatch table: one row per value of the request field JOB, naming the handler that
// serves it and what the entry shows after a writing step.
//
// Plugging a handler in: put the function into its row in jobs.cpp (and include its header
// there). Page jobs take `void (Run&)`. Writing steps take `int (Run&)` and return their result
// code; the row's outcomes map codes to the follow-up page or to a result page, and `then`
// names the follow-up page shown whatever the code is (a writing step without results can be
// plugged in as `[](Run& r) { DoIt(r); return 0; }`). A row whose handler is still nullptr is
// answered like an unknown job.
#pragma once

#include <string_view>
#include <vector>

#include "app/run.h"

using PageHandler = void (*)(Run&);
using WriteHandler = int (*)(Run&);
using JobCondition = bool (*)(const Run&);

// What follows a writing step that returned `code`: the page of the job `page`, or, when page
// is nullptr, the result page with message titleMsg as title and message textMsg as text.
struct JobOutcome {
    int code;
    const char* page;
    int titleMsg;
    int textMsg;
};

struct JobRoute {
    const char* job;                    // compared exactly, case-sensitively
    PageHandler page = nullptr;         // writes the job's page
    WriteHandler write = nullptr;       // the writing step
    const char* then = nullptr;         // follow-up page after the writing step, any code
    std::vector<JobOutcome> outcomes = {};  // follow-up per code (takes precedence over then)
    JobCondition allowed = nullptr;     // when set, the job is served only while it holds
    bool reloadSettings = false;        // read the settings file again after the writing step
};

// The row of a job name, or nullptr for an unknown one.
const JobRoute* FindJobRoute(std::string_view job);
// Every row, in the order of the table.
const std::vector<JobRoute>& JobTable();

// Whether the job belongs to the system operator (administration, settings, the access log,
// folder export and import, deciding ID applications).
bool IsOperatorJob(std::string_view job);

// Runs the job of run.login.JOB for an established caller: its page, or its writing step and
// the page that follows. Unknown jobs, jobs without a handler yet and jobs whose condition
// fails write nothing. An operator job of a caller below the operator's level is refused here,
// before its handler runs: a download sends nothing, a writing step whose refusal has a result
// page shows it, every other job the refusal page (ShowOperatorRefusal).
void DispatchJob(Run& run);

// ID applications: any logged-in user applies for an id of his own; the system operator
// approves (which creates the user) or rejects the pending applications.
#pragma once

#include <string>

#include "app/run.h"

// Results of SaveApplication.
inline constexpr int kApplicationStored = 0;
inline constexpr int kApplicationNoId = -1;
inline constexpr int kApplicationNoName = -2;
inline constexpr int kApplicationIdInUse = -3;
inline constexpr int kApplicationExists = -4;
inline constexpr int kApplicationBadId = -5;
inline constexpr int kApplicationBadName = -6;
inline constexpr int kApplicationBadPassword = -7;
inline constexpr int kApplicationBadMail = -8;
inline constexpr int kApplicationNotStored = -9;  // the file could not be written


// IDSINSEI: the application form.
void ShowApplicationForm(Run& run);
// IDSINSEIWR: checks and stores an application. One of the results above.
int SaveApplication(Run& run);
// IDSINSEIlist: removes the applications decided 14 days ago or earlier, then lists all.
void ShowApplicationList(Run& run);
// IDSINSEIlist2: the pending applications with the form that decides them (operators only).
void ShowPendingApplications(Run& run);
// IDSINSEIsysopWR: approves (creating the user) or rejects the ticked pending applications;
// an application whose id meanwhile names a user is rejected. Operators only. All decisions
// of the request are stored as one change: 0, or kDecisionNotStored when they could not be
// (nothing was changed).
inline constexpr int kDecisionNotStored = -1;
int DecideApplications(Run& run);

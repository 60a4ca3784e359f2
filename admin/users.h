// User administration (the user list in four orders, the user edit page, creating, editing and
// deleting users and their group memberships) and every member's own profile.
#pragma once

#include <string>

#include "app/run.h"

// USERLIST: the button row and, with SJOB, the users in the chosen order.
void ShowUserList(Run& run);
// USERMENT: the edit page of USER_ID, or the new-user page when it is empty.
void ShowUserEditPage(Run& run);
// MYDATA: the caller's own profile.
void ShowOwnProfile(Run& run);

// USERWR, NEWUSERWR and MYDATAWR. Results: 1 saved, 2 cancelled, 3 deleted, 4 memberships
// changed; -1 not allowed, -2 no id, -3 no name, -4 the id exists (new user), -5 the id holds a
// character that is not allowed, -6 comma in the name, -7 comma or blank in the password, -8
// comma or blank in the e-mail address, kUserNotStored when the user file or the memberships
// could not be written (a deletion or a change of memberships then changed nothing).
inline constexpr int kUserNotStored = -9;
int SaveUser(Run& run);

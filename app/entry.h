// The program entry: one run serves one request, from the settings file to FinishRequest.
#pragma once

#include <string>

#include "cgi/output.h"
#include "cgi/request.h"
#include "config/settings.h"

// The settings file of the program at programPath: the path with its extension removed (when
// there is a "." after the last "/" or "\"), then ".ini". '/srv/cgi/boardcgi.cgi' gives
// '/srv/cgi/boardcgi.ini', 'C:\cgi\board.exe' gives 'C:\cgi\board.ini'.
std::string SettingsFileNameOf(const std::string& programPath);
// The name that forms and links call the program by: what follows the path's last "\" or "/".
std::string ScriptNameOf(const std::string& programPath);

// The request limits the settings give (MAX_REQUEST_SIZE, MAX_UPLOAD_FILES; a value below 1
// gives the default).
RequestLimits RequestLimitsOf(const SystemSettings& settings);

// One whole run: reads the settings and messages, decodes the request from input, establishes
// the caller (session key or login), runs the job and ends with FinishRequest. REMOTE_ADDR and
// HTTP_USER_AGENT are taken from the environment, as the session store does. Every run writes
// a complete response to out: where no page is due, "Status: 204 No Content" and an empty line.
// Returns 0.
int RunRequest(const std::string& programPath, const CgiInput& input, Output& out);

// Request decoding: turns the CGI request (GET query string, URL-encoded POST body or
// multipart/form-data POST body) into the ordered field list, writes uploaded files to
// temporary files "CGI%d" in the working directory, and sweeps stale ones at the end of a run.
//
// Texts: names and values are kept in the bytes the browser sent. A zero byte ends a name or a
// value (raw or decoded from "%00"): the decoder keeps the bytes before it and drops the rest of
// that name or value, so no handler ever sees a zero byte in a field. Uploaded file contents
// are binary and kept exactly.
#pragma once

#include <cstddef>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

// An upload temporary file as the run that made it left it: its path and the identity of the
// file (device, inode, last status change), so that the end of the run removes it only while
// it is still that very file, never a file of the same name that another run made after a
// handler moved this one away.
struct UploadTemp {
    std::string path;  // "" when the part made no file
    unsigned long long dev = 0, ino = 0;
    long long ctimeSec = 0, ctimeNsec = 0;
};

struct FormField {
    std::string name;
    std::string value;
    bool hasValue = false;  // false for a URL-encoded segment without "="; reads as empty
    bool isUpload = false;  // a multipart file part: the value names an upload temporary file
    bool isCut = false;     // a multipart value longer than the decoder keeps, cut short; for
                            // a file part: its temporary file could not be made or written whole
    UploadTemp temp = {};   // the file part's temporary file, as this run made it
};
using FieldList = std::vector<FormField>;

// Buffer sizes of the decoder (each holds a terminated text, so one byte less is usable).
inline constexpr size_t kEnvBufferSize = 1000;        // REQUEST_METHOD, CONTENT_TYPE
inline constexpr size_t kDelimiterBufferSize = 100;   // "--" + boundary
inline constexpr size_t kPartNameBufferSize = 1000;   // part name, client file name, temp name
inline constexpr size_t kPartValueKeep = 100000;      // bytes kept of a non-file part
inline constexpr size_t kUploadBlockSize = 1000;      // file parts reach the disk in blocks
inline constexpr time_t kStaleUploadSeconds = 3600;

// What one request may bring. The decoder refuses a request beyond any of these as a whole
// (DecodeRequest gives kRequestTooLarge, no fields, no temporary file left), so memory stays
// within a few times the request's size and never above a fixed bound.
inline constexpr long long kDefaultMaxRequestBytes = 100LL << 20;  // setting MAX_REQUEST_SIZE
inline constexpr int kDefaultMaxUploadFiles = 64;                  // setting MAX_UPLOAD_FILES
inline constexpr size_t kMaxUrlEncodedBytes = 1 << 20;  // a query string or URL-encoded body
inline constexpr size_t kMaxFields = 10000;             // fields of one request
inline constexpr size_t kMaxFieldBytes = 8 << 20;       // names and values kept, all fields
inline constexpr int kRequestTooLarge = -3;

struct RequestLimits {
    long long maxRequestBytes = kDefaultMaxRequestBytes;  // CONTENT_LENGTH of a POST
    int maxUploadFiles = kDefaultMaxUploadFiles;          // file parts that carry a file
};
// What the decoder reads: the CGI variables, the descriptor of the body (standard input in
// the program) and the working directory where upload temporary files are made.
struct CgiInput {
    std::string method;         // REQUEST_METHOD, at most 999 bytes
    std::string queryString;    // QUERY_STRING, whole
    std::string contentLength;  // CONTENT_LENGTH as given
    std::string contentType;    // CONTENT_TYPE, at most 999 bytes
    bool hasQueryString = false;
    bool hasContentLength = false;
    int fd = 0;
    std::string workDir;        // "" or "." for the current directory
    RequestLimits limits;
};

// Reads REQUEST_METHOD, QUERY_STRING, CONTENT_LENGTH and CONTENT_TYPE from the environment.
CgiInput CgiInputFromEnvironment(int fd, const std::string& workDir);

// Builds the field list (cleared first). 0 when done (also with nothing to decode), -1 when
// memory for the body could not be had (fields then empty), -2 when a POST's CONTENT_LENGTH
// is 0, missing, not a number or negative (no fields), kRequestTooLarge when the request goes
// beyond in.limits or the fixed bounds above (no fields; a body over the size limit is not
// read at all). Methods other than GET and POST yield no fields and 0. The body is never read
// past CONTENT_LENGTH. Upload temporary files are named from a free number found with a few
// probes: from 0 on, and past a short run of taken names from a random number.
int DecodeRequest(const CgiInput& in, FieldList& fields);

// Value of the k-th field (k from 0) named exactly name, cut to capacity - 1 bytes; empty when
// there are fewer than k + 1 such fields. The cut never splits a two-byte character.
std::string GetField(const FieldList& fields, std::string_view name, int k, size_t capacity);

// The k-th field named exactly name, or nullptr; for callers that must know a value's whole
// length or whether the decoder cut it.
const FormField* FindFormField(const FieldList& fields, std::string_view name, int k);

// Like GetField, but only a file part of a multipart body counts: a plain field of the same
// name (a hand-made "FILE1=x,CGI3") yields the empty text, so it can never name the upload
// temporary file of another request.
std::string GetUploadField(const FieldList& fields, std::string_view name, int k,
                           size_t capacity);

// Splits a non-empty upload value "client name,temporary name". The client's directory (up to
// the last "\" or "/" outside two-byte characters) is cut off and value rewritten to the
// shortened form. The split is made at the LAST comma, since the temporary name never holds
// one, so client names containing commas stay whole. tempName is set only when it has the
// form of an upload temporary file ("CGI" and decimal digits): a value forged in a plain form
// field can never name another file of the working directory. Both are cut to 999 bytes.
void SplitUploadValue(std::string& value, std::string& clientName, std::string& tempName);

// Deletes the upload temporary files this run's decoder made that are still there as it left
// them (what a handler keeps, it has moved away), releases the field list, then deletes the
// regular files "CGI*" of workDir whose last write is earlier than now - 3600 seconds (left
// by runs that ended abnormally). Entries that cannot be deleted are passed over.
void FinishRequest(FieldList& fields, const std::string& workDir, time_t now);

// The upload temporary file name for number n: "CGI%d".
std::string UploadTempName(int n);

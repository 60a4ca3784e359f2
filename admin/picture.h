// Pictures uploaded through the administration and profile forms (login and background
// pictures, user pictures, folder pictures). The picture keeps the client's file name, so the
// name must be a plain file name of an image type: the web server serves these directories as
// static files, and nothing else may land there.
#pragma once

#include <string>

#include "app/run.h"

enum class PictureUpload {
    None,     // the field holds no upload: the stored name stays
    Stored,   // the picture was placed and name now holds its file name
    Refused,  // the client's name is not an acceptable picture name: nothing placed, name kept
    Failed,   // the name was fine but the file could not be placed: name kept
};

// A client file name, already cut after its last "/" or "\", that may name a picture: not
// empty, not "." or "..", no control byte, and ending in .gif, .jpg, .jpeg, .png or .bmp in
// any letter case.
bool IsPictureName(const std::string& name);

// Takes the upload of the multipart file field `field`: when it holds a file whose client name
// passes IsPictureName, dir + name (dir ends with its separator) is replaced by it and `name`
// becomes that file name. The upload temporary file never outlives the call.
PictureUpload TakePicture(Run& run, const char* field, const std::string& dir,
                          std::string& name);

// FFmpeg's text for one of its error codes, for the movie file's messages.
// For platform/files alone: it includes FFmpeg's header.
#pragma once

#include <string>

extern "C" {
#include <libavutil/error.h>
}

namespace platform {

inline std::string AvError(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

}  // namespace platform

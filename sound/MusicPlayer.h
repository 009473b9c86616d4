// The music player of the installation: a performance and a loader whose
// search folder is the current directory. The world loads the stored voice
// through them as a MusicSegment. Held by value by the Application; set up
// by Init, closed by Close (safe to call any number of times).
#pragma once

#include "common/NonCopyable.h"
#include "platform/system/win32types.h"
#include "sound/MusicLoader.h"
#include "sound/MusicPerformance.h"

class MusicPlayer : NonCopyable {
public:
    MusicPlayer() = default;
    virtual ~MusicPlayer();

    // --echo: play each stored voice once when it is loaded. Before Init.
    void SetEcho(bool echo) { echo_ = echo; }
    // Starts the performance and the loader. A missing output device is not
    // a failure (the player runs silent); only an unreadable current
    // directory is.
    bool Init(HWND hwnd);
    void Close();

    // Null before Init and after Close.
    MusicPerformance* Performance() { return performanceOpen_ ? &performance_ : nullptr; }
    MusicLoader* Loader() { return loaderOpen_ ? &loader_ : nullptr; }

    // For tests: the performance itself, to give it an output before Init.

private:
    bool echo_ = false;
    // NOTE: both live as long as the player, so a segment that still points
    // at them after Close points at closed objects, never at freed memory.
    MusicPerformance performance_;
    MusicLoader loader_;
    bool performanceOpen_ = false;
    bool loaderOpen_ = false;
};

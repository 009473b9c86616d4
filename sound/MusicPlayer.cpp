// The music player's set-up and shutdown.
#include "sound/MusicPlayer.h"

#include <filesystem>
#include <system_error>

#include "common/Log.h"

MusicPlayer::~MusicPlayer() { Close(); }

bool MusicPlayer::Init(HWND)
{
    performanceOpen_ = performance_.InitAudio(echo_);
    if (!performanceOpen_) return false;
    std::error_code error;
    std::filesystem::path current = std::filesystem::current_path(error);
    if (error) {
        LogLine("music", "cannot read the current directory: %s", error.message().c_str());
        return false;
    }
    loader_.SetSearchDirectory(current.string());
    loaderOpen_ = true;
    return true;
}

void MusicPlayer::Close()
{
    if (loaderOpen_) {
        loader_.ClearCache();
        loaderOpen_ = false;
    }
    if (performanceOpen_) {
        performance_.CloseDown();
        performanceOpen_ = false;
    }
}

// The movie file on FFmpeg's libraries. The file is written through our own
// descriptor (opened without following links), so that a full disk is told
// apart from other failures and Sync can reach the disk.
#include "platform/files/VideoFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include "platform/files/AvErrorText.h"

namespace platform {

namespace {

constexpr int kEncodedSoundRate = 48000;
constexpr int kIoBufferBytes = 1 << 16;

bool EndsWith(const std::string& text, const char* ending)
{
    std::size_t n = std::strlen(ending);
    if (text.size() < n) return false;
    for (std::size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(text[text.size() - n + i])) != ending[i]) return false;
    return true;
}

}  // namespace

VideoContainer ContainerForName(const std::string& path)
{
    if (EndsWith(path, ".mp4")) return VideoContainer::Mp4;
    if (EndsWith(path, ".mkv")) return VideoContainer::Matroska;
    return VideoContainer::None;
}

struct VideoFile::State {
    VideoFileSettings settings;
    int fd = -1;
    int lastErrno = 0;
    AVFormatContext* format = nullptr;
    AVIOContext* io = nullptr;
    AVCodecContext* video = nullptr;
    AVCodecContext* sound = nullptr;
    AVStream* videoStream = nullptr;
    AVStream* soundStream = nullptr;
    SwsContext* scaler = nullptr;
    SwrContext* resampler = nullptr;
    AVAudioFifo* fifo = nullptr;
    AVFrame* picture = nullptr;
    AVFrame* soundFrame = nullptr;
    AVPacket* packet = nullptr;
    std::int64_t soundPts = 0;      // encoded-rate samples handed to the sound encoder
    std::int64_t lastFrame = -1;
    bool headerWritten = false;
    bool diskFull = false;

    ~State() { Release(); }

    void Release()
    {
        if (format != nullptr) {
            avformat_free_context(format);
            format = nullptr;
        }
        if (io != nullptr) {
            av_freep(&io->buffer);
            avio_context_free(&io);
        }
        avcodec_free_context(&video);
        avcodec_free_context(&sound);
        sws_freeContext(scaler);
        scaler = nullptr;
        swr_free(&resampler);
        if (fifo != nullptr) {
            av_audio_fifo_free(fifo);
            fifo = nullptr;
        }
        av_frame_free(&picture);
        av_frame_free(&soundFrame);
        av_packet_free(&packet);
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
    }

    static int WritePacket(void* opaque, std::uint8_t* data, int size)
    {
        auto* state = static_cast<State*>(opaque);
        int left = size;
        while (left > 0) {
            ssize_t written = ::write(state->fd, data, static_cast<std::size_t>(left));
            if (written < 0) {
                if (errno == EINTR) continue;
                state->lastErrno = errno;
                if (errno == ENOSPC || errno == EDQUOT) state->diskFull = true;
                return AVERROR(errno);
            }
            data += written;
            left -= static_cast<int>(written);
        }
        return size;
    }

    static std::int64_t Seek(void* opaque, std::int64_t offset, int whence)
    {
        auto* state = static_cast<State*>(opaque);
        if (whence == AVSEEK_SIZE) {
            struct stat info{};
            return ::fstat(state->fd, &info) == 0 ? static_cast<std::int64_t>(info.st_size) : AVERROR(errno);
        }
        off_t at = ::lseek(state->fd, static_cast<off_t>(offset), whence & ~AVSEEK_FORCE);
        return at < 0 ? AVERROR(errno) : static_cast<std::int64_t>(at);
    }

    std::string Failure(const char* what, int code)
    {
        if (diskFull) return std::string(what) + ": the disk is full";
        return std::string(what) + ": " + AvError(code);
    }

    // Hands every packet the encoder has ready to the muxer.
    bool Drain(AVCodecContext* codec, AVStream* stream, std::string& error)
    {
        for (;;) {
            int status = avcodec_receive_packet(codec, packet);
            if (status == AVERROR(EAGAIN) || status == AVERROR_EOF) return true;
            if (status < 0) {
                error = Failure("cannot encode", status);
                return false;
            }
            av_packet_rescale_ts(packet, codec->time_base, stream->time_base);
            packet->stream_index = stream->index;
            status = av_interleaved_write_frame(format, packet);
            if (status < 0) {
                error = Failure("cannot write", status);
                return false;
            }
        }
    }

    bool EncodeSoundFrames(bool final, std::string& error)
    {
        const int frameSize = sound->frame_size > 0 ? sound->frame_size : 1024;
        while (av_audio_fifo_size(fifo) >= frameSize || (final && av_audio_fifo_size(fifo) > 0)) {
            const int count = std::min(frameSize, av_audio_fifo_size(fifo));
            av_frame_unref(soundFrame);
            soundFrame->nb_samples = count;
            soundFrame->format = sound->sample_fmt;
            soundFrame->sample_rate = sound->sample_rate;
            av_channel_layout_copy(&soundFrame->ch_layout, &sound->ch_layout);
            if (av_frame_get_buffer(soundFrame, 0) < 0) {
                error = "cannot encode: out of memory";
                return false;
            }
            av_audio_fifo_read(fifo, reinterpret_cast<void**>(soundFrame->data), count);
            soundFrame->pts = soundPts;
            soundPts += count;
            int status = avcodec_send_frame(sound, soundFrame);
            if (status < 0) {
                error = Failure("cannot encode the sound", status);
                return false;
            }
            if (!Drain(sound, soundStream, error)) return false;
        }
        return true;
    }

    // Resamples (input == nullptr: what the resampler still holds) into the FIFO.
    bool Resample(const std::int16_t* input, int count, std::string& error)
    {
        const int room = swr_get_out_samples(resampler, count) + 16;
        std::vector<float> out(static_cast<std::size_t>(room));
        std::uint8_t* outPlanes[1] = {reinterpret_cast<std::uint8_t*>(out.data())};
        const std::uint8_t* inPlanes[1] = {reinterpret_cast<const std::uint8_t*>(input)};
        int made = swr_convert(resampler, outPlanes, room, input != nullptr ? inPlanes : nullptr, count);
        if (made < 0) {
            error = "cannot resample the sound: " + AvError(made);
            return false;
        }
        if (made > 0 && av_audio_fifo_write(fifo, reinterpret_cast<void**>(outPlanes), made) < made) {
            error = "cannot resample the sound: out of memory";
            return false;
        }
        return true;
    }
};

VideoFile::VideoFile() = default;
VideoFile::~VideoFile()
{
    std::string ignored;
    Close(ignored);
}

bool VideoFile::IsOpen() const { return state_ != nullptr; }
bool VideoFile::DiskFull() const { return state_ != nullptr && state_->diskFull; }

bool VideoFile::Open(const std::string& path, const VideoFileSettings& settings, std::string& error)
{
    std::string ignored;
    Close(ignored);
    const VideoContainer container = ContainerForName(path);
    if (container == VideoContainer::None) {
        error = "\"" + path + "\" is neither .mp4 nor .mkv";
        return false;
    }
    // Our own lines say what went wrong; the encoders' reports stay quiet.
    av_log_set_level(AV_LOG_ERROR);
    auto state = std::make_unique<State>();
    state->settings = settings;
    const bool exact = settings.deterministic;

    // A regular file of that name is replaced; the new one is made afresh,
    // so that a link planted in its place is not followed.
    struct stat existing{};
    if (::lstat(path.c_str(), &existing) == 0) {
        if (!S_ISREG(existing.st_mode)) {
            error = "\"" + path + "\" exists and is not a regular file";
            return false;
        }
        ::unlink(path.c_str());
    }
    state->fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (state->fd < 0) {
        error = "cannot create \"" + path + "\": " + std::strerror(errno);
        return false;
    }

    const char* formatName = container == VideoContainer::Mp4 ? "mp4" : "matroska";
    if (avformat_alloc_output_context2(&state->format, nullptr, formatName, nullptr) < 0 || state->format == nullptr) {
        error = std::string("no ") + formatName + " writer in this FFmpeg";
        return false;
    }
    auto* buffer = static_cast<unsigned char*>(av_malloc(kIoBufferBytes));
    state->io = avio_alloc_context(buffer, kIoBufferBytes, 1, state.get(), nullptr, &State::WritePacket, &State::Seek);
    if (buffer == nullptr || state->io == nullptr) {
        if (state->io == nullptr) av_free(buffer);
        error = "out of memory";
        return false;
    }
    state->format->pb = state->io;
    state->format->flags |= AVFMT_FLAG_CUSTOM_IO | AVFMT_FLAG_FLUSH_PACKETS;
    if (exact) state->format->flags |= AVFMT_FLAG_BITEXACT;

    // Pictures: H.264 at the step rate, a key picture every two seconds so
    // that a cut-off file loses at most that much.
    const AVCodec* h264 = avcodec_find_encoder_by_name("libx264");
    if (h264 == nullptr) h264 = avcodec_find_encoder(AV_CODEC_ID_H264);
    if (h264 == nullptr) {
        error = "no H.264 encoder in this FFmpeg";
        return false;
    }
    state->video = avcodec_alloc_context3(h264);
    AVCodecContext* video = state->video;
    video->width = settings.width;
    video->height = settings.height;
    video->time_base = AVRational{1, settings.framesPerSecond};
    video->framerate = AVRational{settings.framesPerSecond, 1};
    video->pix_fmt = AV_PIX_FMT_YUV420P;
    video->gop_size = 2 * settings.framesPerSecond;
    video->max_b_frames = 0;
    video->thread_count = 1;
    if (exact) video->flags |= AV_CODEC_FLAG_BITEXACT;
    if (state->format->oformat->flags & AVFMT_GLOBALHEADER) video->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary* videoOptions = nullptr;
    // Nothing held back in the encoder: each picture is in the file as soon
    // as its fragment is.
    av_dict_set(&videoOptions, "preset", "veryfast", 0);
    av_dict_set(&videoOptions, "tune", "zerolatency", 0);
    av_dict_set(&videoOptions, "crf", "20", 0);
    int status = avcodec_open2(video, h264, &videoOptions);
    av_dict_free(&videoOptions);
    if (status < 0) {
        error = "cannot start the H.264 encoder: " + AvError(status);
        return false;
    }
    state->videoStream = avformat_new_stream(state->format, nullptr);
    state->videoStream->time_base = video->time_base;
    state->videoStream->avg_frame_rate = video->framerate;
    avcodec_parameters_from_context(state->videoStream->codecpar, video);

    // Sound: AAC, mono.
    const AVCodec* aac = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (aac == nullptr) {
        error = "no AAC encoder in this FFmpeg";
        return false;
    }
    state->sound = avcodec_alloc_context3(aac);
    AVCodecContext* sound = state->sound;
    sound->sample_fmt = AV_SAMPLE_FMT_FLTP;
    sound->sample_rate = kEncodedSoundRate;
    av_channel_layout_default(&sound->ch_layout, 1);
    sound->bit_rate = 96000;
    sound->time_base = AVRational{1, kEncodedSoundRate};
    sound->thread_count = 1;
    if (exact) sound->flags |= AV_CODEC_FLAG_BITEXACT;
    if (state->format->oformat->flags & AVFMT_GLOBALHEADER) sound->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    status = avcodec_open2(sound, aac, nullptr);
    if (status < 0) {
        error = "cannot start the AAC encoder: " + AvError(status);
        return false;
    }
    state->soundStream = avformat_new_stream(state->format, nullptr);
    state->soundStream->time_base = sound->time_base;
    avcodec_parameters_from_context(state->soundStream->codecpar, sound);

    AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
    status = swr_alloc_set_opts2(&state->resampler, &mono, AV_SAMPLE_FMT_FLTP, kEncodedSoundRate, &mono,
                                 AV_SAMPLE_FMT_S16, settings.soundRate, 0, nullptr);
    if (status < 0 || swr_init(state->resampler) < 0) {
        error = "cannot set up the sound resampler";
        return false;
    }
    state->fifo = av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, 1, kEncodedSoundRate);
    state->picture = av_frame_alloc();
    state->soundFrame = av_frame_alloc();
    state->packet = av_packet_alloc();
    if (state->fifo == nullptr || state->picture == nullptr || state->soundFrame == nullptr || state->packet == nullptr) {
        error = "out of memory";
        return false;
    }
    state->picture->format = AV_PIX_FMT_YUV420P;
    state->picture->width = settings.width;
    state->picture->height = settings.height;
    if (av_frame_get_buffer(state->picture, 0) < 0) {
        error = "out of memory";
        return false;
    }

    AVDictionary* muxOptions = nullptr;
    if (container == VideoContainer::Mp4) {
        // Fragments from the start: the file is whole up to its last
        // fragment at any moment, with no index to write at the end.
        // The index waits for the first fragment (two seconds), so that it
        // can hold the sound encoder's priming as an edit.
        av_dict_set(&muxOptions, "movflags", "frag_keyframe+empty_moov+delay_moov+default_base_moof", 0);
    } else {
        av_dict_set(&muxOptions, "cluster_time_limit", "2000", 0);
    }
    status = avformat_write_header(state->format, &muxOptions);
    av_dict_free(&muxOptions);
    if (status < 0) {
        error = state->Failure("cannot write the file's header", status);
        return false;
    }
    state->headerWritten = true;
    state_ = std::move(state);
    return true;
}

bool VideoFile::WriteFrame(const std::uint8_t* rgb, int width, int height, std::int64_t frameIndex, std::string& error)
{
    if (state_ == nullptr) {
        error = "the file is not open";
        return false;
    }
    State& s = *state_;
    if (frameIndex <= s.lastFrame) return true;
    const int flags = SWS_BICUBIC | (s.settings.deterministic ? SWS_BITEXACT | SWS_ACCURATE_RND : 0);
    s.scaler = sws_getCachedContext(s.scaler, width, height, AV_PIX_FMT_RGB24, s.settings.width, s.settings.height,
                                    AV_PIX_FMT_YUV420P, flags, nullptr, nullptr, nullptr);
    if (s.scaler == nullptr) {
        error = "cannot convert a " + std::to_string(width) + "x" + std::to_string(height) + " picture";
        return false;
    }
    if (av_frame_make_writable(s.picture) < 0) {
        error = "out of memory";
        return false;
    }
    const std::uint8_t* source[1] = {rgb};
    const int stride[1] = {3 * width};
    sws_scale(s.scaler, source, stride, 0, height, s.picture->data, s.picture->linesize);
    s.picture->pts = frameIndex;
    s.lastFrame = frameIndex;
    int status = avcodec_send_frame(s.video, s.picture);
    if (status < 0) {
        error = s.Failure("cannot encode the picture", status);
        return false;
    }
    return s.Drain(s.video, s.videoStream, error);
}

bool VideoFile::WriteSound(const std::int16_t* samples, std::size_t count, std::string& error)
{
    if (state_ == nullptr) {
        error = "the file is not open";
        return false;
    }
    if (count == 0) return true;
    return state_->Resample(samples, static_cast<int>(count), error) && state_->EncodeSoundFrames(false, error);
}

void VideoFile::Sync()
{
    if (state_ == nullptr) return;
    avio_flush(state_->io);
    ::fdatasync(state_->fd);
}

bool VideoFile::Close(std::string& error)
{
    if (state_ == nullptr) return true;
    std::unique_ptr<State> state = std::move(state_);
    State& s = *state;
    bool ok = true;
    if (s.headerWritten && !s.diskFull) {
        ok = s.Resample(nullptr, 0, error) && s.EncodeSoundFrames(true, error);
        if (ok) ok = avcodec_send_frame(s.sound, nullptr) >= 0 && s.Drain(s.sound, s.soundStream, error);
        if (ok) ok = avcodec_send_frame(s.video, nullptr) >= 0 && s.Drain(s.video, s.videoStream, error);
        int status = av_write_trailer(s.format);
        if (ok && status < 0) {
            error = s.Failure("cannot end the file", status);
            ok = false;
        }
        avio_flush(s.io);
        if (ok && s.io->error < 0) {
            error = s.Failure("cannot end the file", s.io->error);
            ok = false;
        }
        if (ok && ::fsync(s.fd) != 0) {
            error = std::string("cannot end the file: ") + std::strerror(errno);
            ok = false;
        }
    }
    s.Release();
    return ok;
}

}  // namespace platform

// Reading a movie file back through FFmpeg's decoders: what it holds and
// one picture of it, for the tests and checks of what was written.
#include "platform/files/VideoFile.h"

#include <algorithm>
#include <cstdint>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include "platform/files/AvErrorText.h"

namespace platform {

bool ProbeVideo(const std::string& path, std::int64_t wantedFrame, VideoProbe& probe, std::string& error)
{
    probe = VideoProbe{};
    AVFormatContext* format = nullptr;
    int status = avformat_open_input(&format, path.c_str(), nullptr, nullptr);
    if (status < 0) {
        error = "cannot open \"" + path + "\": " + AvError(status);
        return false;
    }
    avformat_find_stream_info(format, nullptr);
    struct Decoder {
        AVCodecContext* codec = nullptr;
        int stream = -1;
    } video, sound;
    bool ok = true;
    AVRational soundBase{1, 1};
    std::int64_t soundEnd = INT64_MAX;
    for (unsigned i = 0; i < format->nb_streams && ok; ++i) {
        AVStream* stream = format->streams[i];
        Decoder* decoder = stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO   ? &video
                           : stream->codecpar->codec_type == AVMEDIA_TYPE_AUDIO ? &sound
                                                                                 : nullptr;
        if (decoder == nullptr || decoder->stream >= 0) continue;
        const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
        if (codec == nullptr) continue;
        decoder->codec = avcodec_alloc_context3(codec);
        decoder->codec->thread_count = 1;
        decoder->stream = static_cast<int>(i);
        ok = avcodec_parameters_to_context(decoder->codec, stream->codecpar) >= 0 &&
             avcodec_open2(decoder->codec, codec, nullptr) >= 0;
        if (decoder == &video) {
            probe.width = stream->codecpar->width;
            probe.height = stream->codecpar->height;
            AVRational rate = stream->avg_frame_rate.num != 0 ? stream->avg_frame_rate : stream->r_frame_rate;
            probe.framesPerSecond = rate.den != 0 ? av_q2d(rate) : 0;
        } else {
            probe.soundRate = stream->codecpar->sample_rate;
            soundBase = stream->time_base;
            if (stream->duration != AV_NOPTS_VALUE)
                soundEnd = (stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0) + stream->duration;
        }
    }
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    auto receive = [&](Decoder& decoder) {
        while (avcodec_receive_frame(decoder.codec, frame) >= 0) {
            if (&decoder == &sound) {
                // The encoder's priming comes before time 0 and its padding
                // after the stream's end: neither is sound of the run.
                const AVRational perSample{1, frame->sample_rate};
                const std::int64_t stamp = frame->best_effort_timestamp == AV_NOPTS_VALUE ? 0 : frame->best_effort_timestamp;
                const std::int64_t start = av_rescale_q(stamp, soundBase, perSample);
                const std::int64_t end = soundEnd == INT64_MAX ? INT64_MAX : av_rescale_q(soundEnd, soundBase, perSample);
                const std::int64_t from = std::max(start, std::int64_t{0});
                const std::int64_t to = std::min(start + frame->nb_samples, end);
                if (to > from) probe.soundSamples += to - from;
            } else {
                if (probe.frames == wantedFrame) {
                    SwsContext* toRgb = sws_getContext(frame->width, frame->height,
                                                       static_cast<AVPixelFormat>(frame->format), frame->width,
                                                       frame->height, AV_PIX_FMT_RGB24, SWS_BICUBIC, nullptr, nullptr,
                                                       nullptr);
                    if (toRgb != nullptr) {
                        probe.rgb.assign(static_cast<std::size_t>(3 * frame->width * frame->height), 0);
                        std::uint8_t* planes[1] = {probe.rgb.data()};
                        const int stride[1] = {3 * frame->width};
                        sws_scale(toRgb, frame->data, frame->linesize, 0, frame->height, planes, stride);
                        sws_freeContext(toRgb);
                    }
                }
                ++probe.frames;
            }
            av_frame_unref(frame);
        }
    };
    // A file cut off mid-packet ends with a read error: what came before counts.
    while (ok && av_read_frame(format, packet) >= 0) {
        Decoder* decoder = packet->stream_index == video.stream ? &video
                           : packet->stream_index == sound.stream ? &sound
                                                                  : nullptr;
        if (decoder != nullptr && decoder->codec != nullptr && avcodec_send_packet(decoder->codec, packet) >= 0)
            receive(*decoder);
        av_packet_unref(packet);
    }
    for (Decoder* decoder : {&video, &sound}) {
        if (decoder->codec == nullptr) continue;
        avcodec_send_packet(decoder->codec, nullptr);
        receive(*decoder);
        avcodec_free_context(&decoder->codec);
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    avformat_close_input(&format);
    if (!ok) error = "cannot start a decoder for \"" + path + "\"";
    else if (video.stream < 0) error = "\"" + path + "\" holds no pictures";
    return ok && video.stream >= 0;
}

}  // namespace platform

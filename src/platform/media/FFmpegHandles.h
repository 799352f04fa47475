// Owners for the FFmpeg handles the media writers hold, so every error branch
// can simply return.
#pragma once

#include <memory>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

namespace lumivane {

struct AVCodecContextDeleter {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct AVFrameDeleter {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct AVPacketDeleter {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct AVCodecParametersDeleter {
    void operator()(AVCodecParameters* parameters) const { avcodec_parameters_free(&parameters); }
};
struct SwsContextDeleter {
    void operator()(SwsContext* context) const { sws_freeContext(context); }
};
// An output context owns its AVIO handle too: closed here unless already closed.
struct AVOutputFormatContextDeleter {
    void operator()(AVFormatContext* context) const {
        if (context->pb && !(context->oformat->flags & AVFMT_NOFILE)) avio_closep(&context->pb);
        avformat_free_context(context);
    }
};
// A dynamic AVIO buffer: closing it hands back what it collected, freed here.
struct AVIODynamicBufferDeleter {
    void operator()(AVIOContext* buffer) const {
        uint8_t* data = nullptr;
        avio_close_dyn_buf(buffer, &data);
        av_free(data);
    }
};
struct AVInputFormatContextDeleter {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};

using AVCodecContextUPtr = std::unique_ptr<AVCodecContext, AVCodecContextDeleter>;
using AVFrameUPtr = std::unique_ptr<AVFrame, AVFrameDeleter>;
using AVPacketUPtr = std::unique_ptr<AVPacket, AVPacketDeleter>;
using AVCodecParametersUPtr = std::unique_ptr<AVCodecParameters, AVCodecParametersDeleter>;
using SwsContextUPtr = std::unique_ptr<SwsContext, SwsContextDeleter>;
using AVOutputFormatContextUPtr = std::unique_ptr<AVFormatContext, AVOutputFormatContextDeleter>;
using AVIODynamicBufferUPtr = std::unique_ptr<AVIOContext, AVIODynamicBufferDeleter>;
using AVInputFormatContextUPtr = std::unique_ptr<AVFormatContext, AVInputFormatContextDeleter>;

// FFmpeg's error code as text.
inline std::string avErrorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

// FFmpeg reads "name:" at the start of a path as a protocol; a movie named
// "take:2.mov" is a file all the same.
inline std::string fileUrl(const std::string& path) {
    return "file:" + path;
}

// An AVDictionary filled by calls and freed on scope exit; release() hands the
// raw pointer to the FFmpeg calls that take AVDictionary**.
class AVOptions {
public:
    AVOptions() = default;
    AVOptions(const AVOptions&) = delete;
    AVOptions& operator=(const AVOptions&) = delete;
    ~AVOptions() { av_dict_free(&m_dictionary); }
    void set(const char* key, const std::string& value) {
        av_dict_set(&m_dictionary, key, value.c_str(), 0);
    }
    AVDictionary** get() { return &m_dictionary; }
    // Keys the call did not take (left in the dictionary by FFmpeg).
    std::string unused() const {
        std::string keys;
        const AVDictionaryEntry* entry = nullptr;
        while ((entry = av_dict_get(m_dictionary, "", entry, AV_DICT_IGNORE_SUFFIX))) {
            keys += (keys.empty() ? "" : ", ") + std::string(entry->key);
        }
        return keys;
    }

private:
    AVDictionary* m_dictionary = nullptr;
};

}  // namespace lumivane

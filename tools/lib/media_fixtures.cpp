#include "tools/lib/media_fixtures.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

struct Output {
    AVFormatContext* fmt = nullptr;
    AVCodecContext* video = nullptr;
    AVStream* videoStream = nullptr;
    AVCodecContext* audio = nullptr;
    AVStream* audioStream = nullptr;
    ~Output() {
        avcodec_free_context(&video);
        avcodec_free_context(&audio);
        if (fmt) {
            if (fmt->pb) avio_closep(&fmt->pb);
            avformat_free_context(fmt);
        }
    }
};

bool Fail(std::string* error, const std::string& what) {
    if (error) *error = what;
    return false;
}

bool Drain(Output& o, AVCodecContext* ctx, AVStream* st, AVFrame* frame) {
    if (avcodec_send_frame(ctx, frame) < 0) return false;
    AVPacket* pkt = av_packet_alloc();
    bool ok = true;
    for (;;) {
        int r = avcodec_receive_packet(ctx, pkt);
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) break;
        if (r < 0) {
            ok = false;
            break;
        }
        av_packet_rescale_ts(pkt, ctx->time_base, st->time_base);
        pkt->stream_index = st->index;
        if (av_interleaved_write_frame(o.fmt, pkt) < 0) {
            ok = false;
            break;
        }
    }
    av_packet_free(&pkt);
    return ok;
}

AVCodecContext* OpenAudio(Output& o, const AVCodec* codec, int rate, int channels, std::string* error) {
    AVCodecContext* c = avcodec_alloc_context3(codec);
    if (!c) return nullptr;
    c->sample_fmt = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_S16;
    c->sample_rate = rate;
    av_channel_layout_default(&c->ch_layout, channels);
    c->bit_rate = channels * 64000;
    c->time_base = AVRational{1, rate};
    if (o.fmt->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (avcodec_open2(c, codec, nullptr) < 0) {
        avcodec_free_context(&c);
        Fail(error, std::string("cannot open audio encoder ") + codec->name);
        return nullptr;
    }
    o.audioStream = avformat_new_stream(o.fmt, nullptr);
    avcodec_parameters_from_context(o.audioStream->codecpar, c);
    o.audioStream->time_base = c->time_base;
    return c;
}

// One audio frame from sample `first` of the interleaved samples (silence past their end).
void SampleFrame(AVCodecContext* c, AVFrame* f, int64_t first, const std::vector<float>& samples) {
    int channels = c->ch_layout.nb_channels;
    for (int i = 0; i < f->nb_samples; ++i) {
        for (int ch = 0; ch < channels; ++ch) {
            const size_t at = static_cast<size_t>(first + i) * static_cast<size_t>(channels) + static_cast<size_t>(ch);
            const double v = at < samples.size() ? std::clamp(samples[at], -1.0f, 1.0f) : 0.0;
            switch (c->sample_fmt) {
                case AV_SAMPLE_FMT_S16:
                    reinterpret_cast<int16_t*>(f->data[0])[i * channels + ch] = static_cast<int16_t>(v * 32767);
                    break;
                case AV_SAMPLE_FMT_S16P:
                    reinterpret_cast<int16_t*>(f->data[ch])[i] = static_cast<int16_t>(v * 32767);
                    break;
                case AV_SAMPLE_FMT_FLT:
                    reinterpret_cast<float*>(f->data[0])[i * channels + ch] = static_cast<float>(v);
                    break;
                case AV_SAMPLE_FMT_FLTP: reinterpret_cast<float*>(f->data[ch])[i] = static_cast<float>(v); break;
                case AV_SAMPLE_FMT_S32P:
                    reinterpret_cast<int32_t*>(f->data[ch])[i] = static_cast<int32_t>(v * 2147483647.0);
                    break;
                default: break;
            }
        }
    }
}

// A 440 Hz tone of n sample frames, one more encoder frame's worth past them.
std::vector<float> Tone(int64_t frames, int rate, int channels) {
    std::vector<float> out;
    const int64_t n = frames + 4096;
    out.reserve(static_cast<size_t>(n * channels));
    for (int64_t i = 0; i < n; ++i) {
        const auto v = static_cast<float>(0.5 * std::sin(2.0 * M_PI * 440.0 * static_cast<double>(i) / rate));
        for (int ch = 0; ch < channels; ++ch) out.push_back(v);
    }
    return out;
}

bool WriteAudioUntil(Output& o, AVFrame* frame, int64_t* next, int64_t end, const std::vector<float>& samples) {
    while (*next < end) {
        if (av_frame_make_writable(frame) < 0) return false;
        SampleFrame(o.audio, frame, *next, samples);
        frame->pts = *next;
        *next += frame->nb_samples;
        if (!Drain(o, o.audio, o.audioStream, frame)) return false;
    }
    return true;
}

AVFrame* AudioFrame(AVCodecContext* c) {
    AVFrame* f = av_frame_alloc();
    f->format = c->sample_fmt;
    av_channel_layout_copy(&f->ch_layout, &c->ch_layout);
    f->sample_rate = c->sample_rate;
    f->nb_samples = c->frame_size > 0 ? c->frame_size : 1152;
    if (av_frame_get_buffer(f, 0) < 0) av_frame_free(&f);
    return f;
}

bool Begin(Output& o, const char* format, const std::string& path, std::string* error) {
    av_log_set_level(AV_LOG_ERROR);
    if (avformat_alloc_output_context2(&o.fmt, nullptr, format, path.c_str()) < 0 || !o.fmt)
        return Fail(error, std::string("no muxer ") + format);
    return true;
}

bool Finish(Output& o, const std::string& path, std::string* error) {
    if (avio_open(&o.fmt->pb, path.c_str(), AVIO_FLAG_WRITE) < 0) return Fail(error, "cannot write " + path);
    return avformat_write_header(o.fmt, nullptr) >= 0 || Fail(error, "cannot write the header");
}

// Takes the time stamps out of every packet of an MPEG-1 system stream but the
// first video packet: the stamp bytes become stuffing and the "no stamp" code,
// so every packet keeps its length.
bool StripStamps(const std::string& path, std::string* error) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return Fail(error, "cannot read " + path);
    std::vector<uint8_t> b;
    uint8_t chunk[4096];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) b.insert(b.end(), chunk, chunk + n);
    std::fclose(f);
    bool keptFirst = false;
    size_t i = 0;
    while (i + 4 <= b.size()) {
        if (b[i] != 0 || b[i + 1] != 0 || b[i + 2] != 1) {
            ++i;
            continue;
        }
        uint8_t id = b[i + 3];
        if (id == 0xBA) {  // pack header: MPEG-1 form, 12 bytes
            i += 12;
            continue;
        }
        if (id < 0xBB || i + 6 > b.size()) {
            i += 4;
            continue;
        }
        size_t length = static_cast<size_t>(b[i + 4]) << 8 | b[i + 5];
        size_t end = std::min(b.size(), i + 6 + length);
        if (id >= 0xC0 && id <= 0xEF) {
            size_t p = i + 6;
            while (p < end && b[p] == 0xFF) ++p;
            if (p + 1 < end && (b[p] & 0xC0) == 0x40) p += 2;  // buffer size field
            size_t stamps = p < end ? ((b[p] & 0xF0) == 0x20 ? 5 : (b[p] & 0xF0) == 0x30 ? 10 : 0) : 0;
            bool keep = !keptFirst && id >= 0xE0;
            if (keep) keptFirst = true;
            if (stamps && !keep && p + stamps <= end) {
                std::fill(b.begin() + static_cast<long>(p), b.begin() + static_cast<long>(p + stamps - 1), 0xFF);
                b[p + stamps - 1] = 0x0F;
            }
        }
        i = end;
    }
    f = std::fopen(path.c_str(), "wb");
    if (!f) return Fail(error, "cannot write " + path);
    bool ok = std::fwrite(b.data(), 1, b.size(), f) == b.size();
    return (std::fclose(f) == 0 && ok) || Fail(error, "cannot write " + path);
}

}  // namespace

uint32_t Media_FrameColour(int n) {
    static const uint32_t kColours[] = {0xE02020, 0x20E020, 0x2020E0, 0xE0E020, 0x20E0E0, 0xE020E0, 0xF0F0F0, 0x404040};
    return kColours[n % 8];
}

bool Media_WriteMovie(const std::string& path, const MediaMovieSpec& spec, std::string* error) {
    Output o;
    if (!Begin(o, "mpeg", path, error)) return false;
    const AVCodec* vc = avcodec_find_encoder(AV_CODEC_ID_MPEG1VIDEO);
    if (!vc) return Fail(error, "no MPEG-1 video encoder");
    bool video = spec.frames > 0;
    o.video = avcodec_alloc_context3(vc);
    o.video->width = spec.width;
    o.video->height = spec.height;
    o.video->time_base = AVRational{1, spec.fps};
    o.video->framerate = AVRational{spec.fps, 1};
    o.video->pix_fmt = AV_PIX_FMT_YUV420P;
    o.video->gop_size = 5;
    o.video->max_b_frames = 0;
    o.video->bit_rate = 800000;
    if (avcodec_open2(o.video, vc, nullptr) < 0) return Fail(error, "cannot open the MPEG-1 video encoder");
    if (video) {
        o.videoStream = avformat_new_stream(o.fmt, nullptr);
        avcodec_parameters_from_context(o.videoStream->codecpar, o.video);
        o.videoStream->time_base = o.video->time_base;
    }
    if (spec.audio) {
        const AVCodec* ac = avcodec_find_encoder(AV_CODEC_ID_MP2);
        if (!ac) return Fail(error, "no MP2 encoder");
        o.audio = OpenAudio(o, ac, spec.audioRate, spec.audioChannels, error);
        if (!o.audio) return false;
    }
    if (!Finish(o, path, error)) return false;

    AVFrame* vf = av_frame_alloc();
    vf->format = AV_PIX_FMT_YUV420P;
    vf->width = spec.width;
    vf->height = spec.height;
    av_frame_get_buffer(vf, 0);
    AVFrame* af = o.audio ? AudioFrame(o.audio) : nullptr;
    int64_t audioNext = 0;
    const std::vector<float> tone =
        af ? Tone(video ? static_cast<int64_t>(spec.frames) * spec.audioRate / spec.fps : spec.audioRate,
                  spec.audioRate, spec.audioChannels)
           : std::vector<float>{};
    bool ok = true;
    if (!video && af) ok = WriteAudioUntil(o, af, &audioNext, spec.audioRate, tone);  // one second of sound alone
    for (int n = 0; n < spec.frames && ok; ++n) {
        if (af) ok = WriteAudioUntil(o, af, &audioNext, static_cast<int64_t>(n + 1) * spec.audioRate / spec.fps, tone);
        av_frame_make_writable(vf);
        uint32_t c = Media_FrameColour(n);
        double r = (c >> 16) & 0xFF, g = (c >> 8) & 0xFF, b = c & 0xFF;
        auto y = static_cast<uint8_t>(std::lround(16 + 0.257 * r + 0.504 * g + 0.098 * b));
        auto u = static_cast<uint8_t>(std::lround(128 - 0.148 * r - 0.291 * g + 0.439 * b));
        auto v = static_cast<uint8_t>(std::lround(128 + 0.439 * r - 0.368 * g - 0.071 * b));
        for (int row = 0; row < spec.height; ++row)
            std::fill(vf->data[0] + row * vf->linesize[0], vf->data[0] + row * vf->linesize[0] + spec.width, y);
        for (int row = 0; row < spec.height / 2; ++row) {
            std::fill(vf->data[1] + row * vf->linesize[1], vf->data[1] + row * vf->linesize[1] + spec.width / 2, u);
            std::fill(vf->data[2] + row * vf->linesize[2], vf->data[2] + row * vf->linesize[2] + spec.width / 2, v);
        }
        vf->pts = n;
        ok = ok && Drain(o, o.video, o.videoStream, vf);
    }
    if (video) ok = ok && Drain(o, o.video, o.videoStream, nullptr);
    if (o.audio) ok = ok && Drain(o, o.audio, o.audioStream, nullptr);
    av_frame_free(&vf);
    av_frame_free(&af);
    if (!ok) return Fail(error, "encoding failed");
    if (av_write_trailer(o.fmt) < 0) return Fail(error, "cannot write the trailer");
    if (!spec.firstStampOnly) return true;
    avio_closep(&o.fmt->pb);
    return StripStamps(path, error);
}

namespace {

// Encodes `frames` sample frames of the samples (silence past their end) as an MP3.
bool WriteTrack(const std::string& path, const std::vector<float>& samples, int64_t frames, int rate, int channels,
                std::string* error) {
    Output o;
    const AVCodec* ac = avcodec_find_encoder_by_name("libmp3lame");
    const char* format = "mp3";
    if (!ac) {
        // MPEG audio layer 2 frames read as an ".mp3" all the same.
        ac = avcodec_find_encoder(AV_CODEC_ID_MP2);
        format = "mp2";
    }
    if (!ac) return Fail(error, "no MPEG audio encoder");
    if (channels < 1) return Fail(error, "no channels");
    if (!Begin(o, format, path, error)) return false;
    o.audio = OpenAudio(o, ac, rate, channels, error);
    if (!o.audio || !Finish(o, path, error)) return false;
    AVFrame* af = AudioFrame(o.audio);
    int64_t next = 0;
    bool ok = af && WriteAudioUntil(o, af, &next, frames, samples);
    ok = ok && Drain(o, o.audio, o.audioStream, nullptr);
    av_frame_free(&af);
    if (!ok) return Fail(error, "encoding failed");
    return av_write_trailer(o.fmt) >= 0 || Fail(error, "cannot write the trailer");
}

}  // namespace

bool Media_WriteSoundtrack(const std::string& path, double seconds, int rate, int channels, std::string* error) {
    const auto frames = static_cast<int64_t>(seconds * rate);
    return WriteTrack(path, Tone(frames, rate, channels), frames, rate, channels, error);
}

bool Media_WriteSoundtrackSamples(const std::string& path, const std::vector<float>& samples, int rate, int channels,
                                  std::string* error) {
    if (channels < 1) return Fail(error, "no channels");
    return WriteTrack(path, samples, static_cast<int64_t>(samples.size() / static_cast<size_t>(channels)), rate,
                      channels, error);
}

// ---------------------------------------------------------------- WAV

namespace {
void Put16(std::vector<uint8_t>& v, uint16_t x) {
    v.push_back(static_cast<uint8_t>(x));
    v.push_back(static_cast<uint8_t>(x >> 8));
}
void Put32(std::vector<uint8_t>& v, uint32_t x) {
    Put16(v, static_cast<uint16_t>(x));
    Put16(v, static_cast<uint16_t>(x >> 16));
}
void PutId(std::vector<uint8_t>& v, const char* id) { v.insert(v.end(), id, id + 4); }
}  // namespace

std::vector<uint8_t> MakeWav(const WavSpec& s) {
    std::vector<uint8_t> v;
    PutId(v, "RIFF");
    Put32(v, 0);
    PutId(v, "WAVE");
    PutId(v, "fmt ");
    Put32(v, s.fmtSize);
    Put16(v, s.formatTag);
    Put16(v, s.channels);
    Put32(v, s.rate);
    uint16_t align = static_cast<uint16_t>(s.channels * s.bits / 8);
    Put32(v, s.rate * align);
    Put16(v, align);
    Put16(v, s.bits);
    for (uint32_t i = 16; i < s.fmtSize; ++i) v.push_back(0);
    if (s.fmtSize & 1) v.push_back(0);
    for (const auto& [id, body] : s.chunksBefore) {
        PutId(v, id.c_str());
        Put32(v, static_cast<uint32_t>(body.size()));
        v.insert(v.end(), body.begin(), body.end());
        if (body.size() & 1) v.push_back(0);
    }
    PutId(v, "data");
    Put32(v, static_cast<uint32_t>(static_cast<int64_t>(s.data.size()) + s.dataSizeDelta));
    v.insert(v.end(), s.data.begin(), s.data.end());
    uint32_t riff = static_cast<uint32_t>(static_cast<int64_t>(v.size()) - 8 + s.riffSizeDelta);
    for (int i = 0; i < 4; ++i) v[4 + i] = static_cast<uint8_t>(riff >> (8 * i));
    return v;
}

std::vector<uint8_t> Media_Pcm16(const std::vector<float>& samples) {
    std::vector<uint8_t> v;
    v.reserve(samples.size() * 2);
    for (float f : samples)
        Put16(v, static_cast<uint16_t>(static_cast<int16_t>(std::lround(std::clamp(f, -1.0f, 1.0f) * 32767.0f))));
    return v;
}

// Multimedia streams over FFmpeg. One core per multimedia stream holds the
// graph's state and clock, the filters added to it, and the media source (the
// demuxer and decoders reading through the file reader). Video samples decode
// the next frame and complete once the clock reaches it; audio samples fill
// their block at once. When the graph has an audio renderer, the core plays
// the audio itself on an OpenAL streaming source of the current context.
#include "platform/dshow/dshow.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/imgutils.h>
#include <libavutil/mem.h>
#include <libavutil/opt.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <AL/al.h>
#include <AL/alc.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "platform/dshow/seam.h"

namespace {

DShowSeam g_seam;
int g_live = 0;

int64_t NowMs() {
    if (g_seam.manualClock) return g_seam.nowMs;
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

constexpr int64_t kHns = 10000000;  // 100-ns units per second
constexpr int kLineAlign = 64;      // the widest vector unit the scaler may use

// ---------------------------------------------------------------- files
// Plain files on disk, until the system layer hands in its file layer.
void* DiskOpen(const char* name) { return std::fopen(name, "rb"); }
size_t DiskRead(void* f, void* buffer, size_t bytes) { return std::fread(buffer, 1, bytes, static_cast<FILE*>(f)); }
int DiskSeek(void* f, int64_t offset, int whence) { return fseeko(static_cast<FILE*>(f), offset, whence); }
int64_t DiskTell(void* f) { return ftello(static_cast<FILE*>(f)); }
void DiskClose(void* f) { std::fclose(static_cast<FILE*>(f)); }
int64_t DiskSize(const char* name) {
    FILE* f = std::fopen(name, "rb");
    if (!f) return 0;
    int64_t n = fseeko(f, 0, SEEK_END) == 0 ? ftello(f) : 0;
    std::fclose(f);
    return n;
}
constexpr DShowFileReader kDiskReader = {DiskOpen, DiskRead, DiskSeek, DiskTell, DiskClose, DiskSize};
DShowFileReader g_reader = kDiskReader;

// ---------------------------------------------------------------- demuxer
// A file opened through the reader with its demuxer.
class Demuxer {
public:
    ~Demuxer() {
        if (fmt) avformat_close_input(&fmt);
        if (io_) {
            av_freep(&io_->buffer);
            avio_context_free(&io_);
        }
        if (file_) reader_.close(file_);
    }
    bool Open(const char* name) {
        file_ = g_reader.open(name);
        if (!file_) return false;
        reader_ = g_reader;
        if (reader_.seek(file_, 0, SEEK_END) == 0) size_ = reader_.tell(file_);
        reader_.seek(file_, 0, SEEK_SET);
        constexpr int kIo = 32768;
        auto* buf = static_cast<uint8_t*>(av_malloc(kIo));
        io_ = avio_alloc_context(buf, kIo, 0, this, &Read, nullptr, &Seek);
        if (!io_) av_free(buf);
        fmt = avformat_alloc_context();
        if (!io_ || !fmt) return false;
        fmt->pb = io_;
        if (avformat_open_input(&fmt, nullptr, nullptr, nullptr) < 0) {
            fmt = nullptr;
            return false;
        }
        return avformat_find_stream_info(fmt, nullptr) >= 0;
    }

    AVFormatContext* fmt = nullptr;

private:
    static int Read(void* opaque, uint8_t* buf, int size) {
        auto* self = static_cast<Demuxer*>(opaque);
        size_t n = self->reader_.read(self->file_, buf, static_cast<size_t>(size));
        return n == 0 ? AVERROR_EOF : static_cast<int>(n);
    }
    static int64_t Seek(void* opaque, int64_t offset, int whence) {
        auto* self = static_cast<Demuxer*>(opaque);
        if (whence & AVSEEK_SIZE) return self->size_;
        whence &= ~AVSEEK_FORCE;
        if (self->reader_.seek(self->file_, offset, whence) != 0) return -1;
        return self->reader_.tell(self->file_);
    }

    void* file_ = nullptr;
    DShowFileReader reader_ = kDiskReader;  // the one that opened file_
    int64_t size_ = -1;
    AVIOContext* io_ = nullptr;
};

// ---------------------------------------------------------------- library buffers
// A block the FFmpeg libraries write into: their vector code writes whole
// blocks past the last byte asked for, so every such buffer comes from their
// own allocator with the size, line alignment and padding they ask for, and
// only then is copied out.
class LibraryBuffer {
public:
    ~LibraryBuffer() { av_free(data_); }
    // At least `bytes` plus the libraries' padding; null when that cannot be had.
    uint8_t* Get(int bytes) {
        if (bytes < 0) return nullptr;
        if (bytes > size_) {
            av_freep(&data_);
            size_ = 0;
            data_ = static_cast<uint8_t*>(av_mallocz(static_cast<size_t>(bytes) + AV_INPUT_BUFFER_PADDING_SIZE));
            if (data_) size_ = bytes;
        }
        return data_;
    }

private:
    uint8_t* data_ = nullptr;
    int size_ = 0;
};

// ---------------------------------------------------------------- media source
class MediaSource {
public:
    ~MediaSource() { Close(); }

    bool Open(const char* name, bool wantVideo, bool wantAudio) {
        in_ = std::make_unique<Demuxer>();
        if (!in_->Open(name)) return false;
        fmt_ = in_->fmt;
        start_ = fmt_->start_time != AV_NOPTS_VALUE ? fmt_->start_time * 10 : 0;
        duration_ = fmt_->duration != AV_NOPTS_VALUE ? fmt_->duration * 10 : 0;
        if (wantVideo) OpenVideo();
        if (wantAudio) OpenAudio();
        if (!video_ && !audio_) return false;
        // The container's duration is a guess from the stamps it finds first and
        // last, and a stream whose later packets carry none looks one frame long.
        // What the streams really hold is found by reading the file to its end once.
        if (int64_t end = ScanEnd(name); end > 0) duration_ = end;
        return true;
    }

    bool HasVideo() const { return video_ != nullptr; }
    bool HasAudio() const { return audio_ != nullptr; }
    int Width() const { return video_ ? width_ : 0; }
    int Height() const { return video_ ? height_ : 0; }
    int64_t Duration() const { return duration_; }
    const WAVEFORMATEX& AudioFormat() const { return wave_; }

    // 1 a frame (32-bit, rows top down), 0 at the end, -1 on an error.
    int NextVideo(std::vector<uint8_t>& bgra, int64_t* pts, int64_t* length) {
        if (!video_) return 0;
        for (;;) {
            int r = avcodec_receive_frame(video_, frame_);
            if (r == 0) {
                int64_t len = frameLength_;
                int64_t stamp = frame_->best_effort_timestamp;
                int64_t t = ToHns(stamp, fmt_->streams[videoIndex_]->time_base);
                // Frames come in display order: one without a stamp of its own,
                // or with one that does not move on, follows the frame before.
                if (stamp == AV_NOPTS_VALUE) t = nextVideo_ != AV_NOPTS_VALUE ? nextVideo_ : videoBase_;
                else if (nextVideo_ != AV_NOPTS_VALUE && t < nextVideo_ - len / 2) t = nextVideo_;
                nextVideo_ = t + len;
                if (t + len <= skipVideoBefore_) {
                    av_frame_unref(frame_);
                    continue;
                }
                // The samples were made for the size the stream opened with; a
                // frame of another size (a damaged stream's) is scaled to it.
                int w = width_, h = height_;
                sws_ = frame_->width > 0 && frame_->height > 0
                           ? sws_getCachedContext(sws_, frame_->width, frame_->height,
                                                  static_cast<AVPixelFormat>(frame_->format), w, h, AV_PIX_FMT_BGRA,
                                                  SWS_POINT, nullptr, nullptr, nullptr)
                           : nullptr;
                if (!sws_) {
                    av_frame_unref(frame_);
                    continue;
                }
                // The scaler writes into lines of the alignment it wants; the
                // samples hold the rows packed.
                uint8_t* dst[4] = {};
                int lines[4] = {};
                const int bytes = av_image_get_buffer_size(AV_PIX_FMT_BGRA, w, h, kLineAlign);
                uint8_t* scaled = scaled_.Get(bytes);
                if (!scaled || av_image_fill_arrays(dst, lines, scaled, AV_PIX_FMT_BGRA, w, h, kLineAlign) < 0) {
                    av_frame_unref(frame_);
                    return -1;
                }
                sws_scale(sws_, frame_->data, frame_->linesize, 0, frame_->height, dst, lines);
                av_frame_unref(frame_);
                bgra.resize(static_cast<size_t>(w) * h * 4);
                av_image_copy_to_buffer(bgra.data(), static_cast<int>(bgra.size()), dst, lines, AV_PIX_FMT_BGRA, w, h,
                                        1);
                *pts = std::max<int64_t>(0, t);
                *length = len;
                return 1;
            }
            if (r == AVERROR_EOF) return 0;
            if (r != AVERROR(EAGAIN)) return -1;
            if (!Feed(video_, vq_, videoFlushed_)) return 0;
        }
    }

    // Up to n bytes of 16-bit PCM; *start is the time of the first byte.
    uint32_t ReadAudio(uint8_t* out, uint32_t n, int64_t* start) {
        if (!audio_) return 0;
        while (pcm_.size() - pcmPos_ < n) {
            if (!DecodeAudio()) break;
        }
        uint32_t got = static_cast<uint32_t>(std::min<size_t>(n, pcm_.size() - pcmPos_));
        got -= got % wave_.nBlockAlign;
        *start = pcmTime_;
        if (got) std::memcpy(out, pcm_.data() + pcmPos_, got);
        pcmPos_ += got;
        pcmTime_ += static_cast<int64_t>(got) * kHns / wave_.nAvgBytesPerSec;
        if (pcmPos_ > 65536) {
            pcm_.erase(pcm_.begin(), pcm_.begin() + static_cast<long>(pcmPos_));
            pcmPos_ = 0;
        }
        return got;
    }

    void SeekTo(int64_t hns) {
        av_seek_frame(fmt_, -1, (hns + start_) / 10, AVSEEK_FLAG_BACKWARD);
        if (video_) avcodec_flush_buffers(video_);
        if (audio_) avcodec_flush_buffers(audio_);
        for (AVPacket* p : vq_) av_packet_free(&p);
        for (AVPacket* p : aq_) av_packet_free(&p);
        vq_.clear();
        aq_.clear();
        eof_ = videoFlushed_ = audioFlushed_ = false;
        skipVideoBefore_ = hns;
        nextVideo_ = AV_NOPTS_VALUE;  // the frames before the target carry their own stamps
        videoBase_ = hns;             // where stamp-less ones go on from
        pcm_.clear();
        pcmPos_ = 0;
        pcmTime_ = hns;
        pcmTimeValid_ = false;
    }

private:
    // The end (hns from the start) of the last packet of the streams played,
    // reading a second demuxer over the same file to its end; 0 when unknown.
    // A packet without stamps follows the one before it.
    int64_t ScanEnd(const char* name) const {
        Demuxer scan;
        if (!scan.Open(name)) return 0;
        const int indices[2] = {videoIndex_, audioIndex_};
        int64_t next[2] = {AV_NOPTS_VALUE, AV_NOPTS_VALUE};  // stream time where the next packet starts
        int64_t end = 0;
        AVPacket* p = av_packet_alloc();
        while (p && av_read_frame(scan.fmt, p) >= 0) {
            for (int k = 0; k < 2; ++k) {
                if (indices[k] < 0 || p->stream_index != indices[k]) continue;
                AVRational tb = scan.fmt->streams[p->stream_index]->time_base;
                // Decode order: a packet that does not move on carries no stamp of its own.
                int64_t ts = p->dts != AV_NOPTS_VALUE ? p->dts : p->pts;
                if (ts == AV_NOPTS_VALUE || (next[k] != AV_NOPTS_VALUE && ts < next[k])) ts = next[k];
                if (ts == AV_NOPTS_VALUE) break;
                int64_t length = p->duration;
                if (length <= 0 && k == 0) length = av_rescale_q(frameLength_, AVRational{1, int(kHns)}, tb);
                next[k] = ts + length;
                end = std::max(end, ToHns(next[k], tb));
                if (p->pts != AV_NOPTS_VALUE && p->pts > ts) end = std::max(end, ToHns(p->pts + length, tb));
            }
            av_packet_unref(p);
        }
        av_packet_free(&p);
        return end;
    }

    int64_t ToHns(int64_t ts, AVRational tb) const {
        if (ts == AV_NOPTS_VALUE) return 0;
        return av_rescale_q(ts, tb, AVRational{1, static_cast<int>(kHns)}) - start_;
    }

    AVCodecContext* OpenDecoder(int index) {
        const AVCodecParameters* par = fmt_->streams[index]->codecpar;
        const AVCodec* codec = avcodec_find_decoder(par->codec_id);
        if (!codec) return nullptr;
        AVCodecContext* c = avcodec_alloc_context3(codec);
        if (!c || avcodec_parameters_to_context(c, par) < 0 || avcodec_open2(c, codec, nullptr) < 0) {
            avcodec_free_context(&c);
            return nullptr;
        }
        return c;
    }
    void OpenVideo() {
        int i = av_find_best_stream(fmt_, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        if (i < 0) return;
        video_ = OpenDecoder(i);
        if (!video_ || video_->width <= 0 || video_->height <= 0) {
            avcodec_free_context(&video_);
            return;
        }
        videoIndex_ = i;
        width_ = video_->width;
        height_ = video_->height;
        AVRational fr = fmt_->streams[i]->avg_frame_rate;
        if (fr.num <= 0 || fr.den <= 0) fr = fmt_->streams[i]->r_frame_rate;
        frameLength_ = fr.num > 0 ? kHns * fr.den / fr.num : kHns / 25;
    }
    void OpenAudio() {
        int i = av_find_best_stream(fmt_, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
        if (i < 0) return;
        audio_ = OpenDecoder(i);
        if (!audio_ || audio_->sample_rate <= 0 || audio_->ch_layout.nb_channels <= 0) {
            avcodec_free_context(&audio_);
            return;
        }
        audioIndex_ = i;
        int channels = std::min(2, audio_->ch_layout.nb_channels);
        av_channel_layout_default(&outLayout_, channels);
        if (!SetResampler(audio_->ch_layout, audio_->sample_fmt, audio_->sample_rate)) {
            avcodec_free_context(&audio_);
            return;
        }
        wave_ = WAVEFORMATEX{WAVE_FORMAT_PCM,
                             static_cast<uint16_t>(channels),
                             static_cast<uint32_t>(audio_->sample_rate),
                             static_cast<uint32_t>(audio_->sample_rate * channels * 2),
                             static_cast<uint16_t>(channels * 2),
                             16,
                             0};
    }

    // The resampler from the given input to the stream's 16-bit output format,
    // which never changes once the stream is open.
    bool SetResampler(const AVChannelLayout& layout, int format, int rate) {
        swr_free(&swr_);
        av_channel_layout_uninit(&swrLayout_);
        if (av_channel_layout_copy(&swrLayout_, &layout) < 0 ||
            swr_alloc_set_opts2(&swr_, &outLayout_, AV_SAMPLE_FMT_S16, audio_->sample_rate, &swrLayout_,
                                static_cast<AVSampleFormat>(format), rate, 0, nullptr) < 0 ||
            swr_init(swr_) < 0) {
            swr_free(&swr_);
            av_channel_layout_uninit(&swrLayout_);
            return false;
        }
        swrFormat_ = format;
        swrRate_ = rate;
        return true;
    }
    // A damaged stream can change its channels, sample format or rate from one
    // frame to the next; the resampler follows, as the output must not.
    bool ResamplerFits(const AVFrame* f) {
        if (f->nb_samples <= 0 || f->sample_rate <= 0 || f->ch_layout.nb_channels <= 0) return false;
        if (swr_ && f->format == swrFormat_ && f->sample_rate == swrRate_ &&
            av_channel_layout_compare(&f->ch_layout, &swrLayout_) == 0)
            return true;
        return SetResampler(f->ch_layout, f->format, f->sample_rate);
    }

    // Demuxes until the queue has a packet; false when the file has ended.
    bool Demux(std::deque<AVPacket*>& queue) {
        while (queue.empty() && !eof_) {
            AVPacket* p = av_packet_alloc();
            if (av_read_frame(fmt_, p) < 0) {
                av_packet_free(&p);
                eof_ = true;
                break;
            }
            if (video_ && p->stream_index == videoIndex_) vq_.push_back(p);
            else if (audio_ && p->stream_index == audioIndex_) aq_.push_back(p);
            else av_packet_free(&p);
        }
        return !queue.empty();
    }
    // Gives the decoder its next packet, or the end once; false when nothing is left.
    bool Feed(AVCodecContext* c, std::deque<AVPacket*>& queue, bool& flushed) {
        if (Demux(queue)) {
            AVPacket* p = queue.front();
            queue.pop_front();
            avcodec_send_packet(c, p);
            av_packet_free(&p);
            return true;
        }
        if (flushed) return false;
        flushed = true;
        avcodec_send_packet(c, nullptr);
        return true;
    }
    bool DecodeAudio() {
        for (;;) {
            int r = avcodec_receive_frame(audio_, frame_);
            if (r == 0) {
                if (!pcmTimeValid_ || pcmPos_ == pcm_.size()) {
                    // Without a stamp the sound goes on from where it was.
                    if (frame_->best_effort_timestamp != AV_NOPTS_VALUE)
                        pcmTime_ = std::max<int64_t>(
                            0, ToHns(frame_->best_effort_timestamp, fmt_->streams[audioIndex_]->time_base));
                    pcmTimeValid_ = true;
                    pcm_.erase(pcm_.begin(), pcm_.begin() + static_cast<long>(pcmPos_));
                    pcmPos_ = 0;
                }
                if (!ResamplerFits(frame_)) {
                    av_frame_unref(frame_);
                    continue;
                }
                // The resampler writes into a buffer of the size and alignment
                // the library gives for its output; the samples are appended.
                const int outSamples = swr_get_out_samples(swr_, frame_->nb_samples);
                const int bytes = outSamples > 0 ? av_samples_get_buffer_size(nullptr, wave_.nChannels, outSamples,
                                                                              AV_SAMPLE_FMT_S16, 0)
                                                 : -1;
                uint8_t* dst[1] = {resampled_.Get(bytes)};
                const int done =
                    dst[0] ? swr_convert(swr_, dst, outSamples, const_cast<const uint8_t**>(frame_->extended_data),
                                         frame_->nb_samples)
                           : 0;
                if (done > 0) pcm_.insert(pcm_.end(), dst[0], dst[0] + static_cast<size_t>(done) * wave_.nBlockAlign);
                av_frame_unref(frame_);
                return true;
            }
            if (r == AVERROR_EOF) return false;
            if (r != AVERROR(EAGAIN)) return false;
            if (!Feed(audio_, aq_, audioFlushed_)) return false;
        }
    }

    void Close() {
        for (AVPacket* p : vq_) av_packet_free(&p);
        for (AVPacket* p : aq_) av_packet_free(&p);
        avcodec_free_context(&video_);
        avcodec_free_context(&audio_);
        sws_freeContext(sws_);
        swr_free(&swr_);
        av_channel_layout_uninit(&swrLayout_);
        av_channel_layout_uninit(&outLayout_);
        av_frame_free(&frame_);
        in_.reset();
        fmt_ = nullptr;
    }

    std::unique_ptr<Demuxer> in_;
    AVFormatContext* fmt_ = nullptr;  // in_'s
    AVCodecContext* video_ = nullptr;
    AVCodecContext* audio_ = nullptr;
    int videoIndex_ = -1, audioIndex_ = -1;
    int width_ = 0, height_ = 0;  // of the stream as opened
    SwsContext* sws_ = nullptr;
    SwrContext* swr_ = nullptr;
    LibraryBuffer scaled_, resampled_;
    AVChannelLayout outLayout_{};
    AVChannelLayout swrLayout_{};  // the input the resampler was made for
    int swrFormat_ = -1, swrRate_ = 0;
    AVFrame* frame_ = av_frame_alloc();
    std::deque<AVPacket*> vq_, aq_;
    bool eof_ = false, videoFlushed_ = false, audioFlushed_ = false;
    int64_t start_ = 0, duration_ = 0, frameLength_ = kHns / 25;
    int64_t skipVideoBefore_ = 0;
    int64_t nextVideo_ = AV_NOPTS_VALUE;  // where the frame after the last one starts
    int64_t videoBase_ = 0;               // the time of a first frame without a stamp
    WAVEFORMATEX wave_{};
    std::vector<uint8_t> pcm_;
    size_t pcmPos_ = 0;
    int64_t pcmTime_ = 0;
    bool pcmTimeValid_ = false;
};

// ---------------------------------------------------------------- shared core
struct Core;

class Filter final : public IBaseFilter, public IDMOWrapperFilter {
public:
    Filter(const GUID& clsid, std::string path) : clsid_(clsid), path_(std::move(path)) { ++g_live; }
    ~Filter() { --g_live; }
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }
    HRESULT QueryInterface(const GUID& iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (DS_GuidEqual(iid, IID_IDMOWrapperFilter) && DS_GuidEqual(clsid_, CLSID_DMOWrapperFilter)) {
            AddRef();
            *out = static_cast<IDMOWrapperFilter*>(this);
            return S_OK;
        }
        if (DS_GuidEqual(iid, IID_IBaseFilter)) {
            AddRef();
            *out = static_cast<IBaseFilter*>(this);
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    HRESULT FindPin(const char* id, IPin** pin) override;
    HRESULT Init(const GUID&, const GUID&) override { return S_OK; }
    const GUID& Clsid() const { return clsid_; }
    const std::string& Path() const { return path_; }

private:
    GUID clsid_;
    std::string path_;
    ULONG refs_ = 1;
};

class Pin final : public IPin {
public:
    explicit Pin(Filter* f) : filter_(f) {
        filter_->AddRef();
        ++g_live;
    }
    ~Pin() {
        filter_->Release();
        --g_live;
    }
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }
    Filter* Owner() const { return filter_; }

private:
    Filter* filter_;
    ULONG refs_ = 1;
};

HRESULT Filter::FindPin(const char* id, IPin** pin) {
    if (!pin) return E_POINTER;
    *pin = nullptr;
    if (path_.empty() || !id || std::strcmp(id, "Output") != 0) return VFW_E_NOT_FOUND;
    *pin = new Pin(this);
    return S_OK;
}

struct Core {
    int refs = 0;
    bool initialized = false;
    OAFilterState state = State_Stopped;
    int64_t clockBase = 0;  // hns at runStart
    int64_t runStartMs = 0;
    double rate = 1.0;
    bool videoWanted = false;
    bool audioWanted = false;
    bool audioRenderer = false;
    std::vector<IBaseFilter*> filters;
    std::unique_ptr<MediaSource> source;
    int generation = 0;  // bumped at every seek: samples drop what they hold
    // Renderer output.
    ALuint alSource = 0;
    ALuint alBuffers[4]{};
    std::vector<ALuint> freeBuffers;
    LONG volume = 0;
    bool rendererEnded = false;

    ~Core() {
        StopRenderer();
        for (IBaseFilter* f : filters) f->Release();
    }
    void Ref() { ++refs; }
    void Unref() {
        if (--refs == 0) delete this;
    }

    int64_t Time() const {
        if (state != State_Running) return clockBase;
        return clockBase + static_cast<int64_t>(static_cast<double>(NowMs() - runStartMs) * 10000.0 * rate);
    }
    void Run() {
        if (state == State_Running) return;
        runStartMs = NowMs();
        state = State_Running;
        if (alSource) alSourcePlay(alSource);
        Pump();
    }
    void Pause() {
        if (state == State_Running) clockBase = Time();
        state = State_Paused;
        if (alSource) alSourcePause(alSource);
    }
    void Stop() {
        Pause();
        state = State_Stopped;
    }
    void SeekTo(int64_t hns) {
        if (!source) return;
        source->SeekTo(std::max<int64_t>(0, hns));
        clockBase = std::max<int64_t>(0, hns);
        runStartMs = NowMs();
        ++generation;
        rendererEnded = false;
        if (alSource) {
            alSourceStop(alSource);
            alSourcei(alSource, AL_BUFFER, 0);
            freeBuffers.assign(alBuffers, alBuffers + 4);
        }
    }
    void SetRate(double r) {
        clockBase = Time();
        runStartMs = NowMs();
        rate = r;
        if (alSource) alSourcef(alSource, AL_PITCH, static_cast<float>(r));
    }

    bool Open(const char* name) {
        source = std::make_unique<MediaSource>();
        if (!source->Open(name, videoWanted, audioWanted || audioRenderer)) {
            source.reset();
            return false;
        }
        if (audioRenderer && source->HasAudio()) StartRenderer();
        return true;
    }

    // The renderer path: the audio plays on our own source, a few tenths of a
    // second ahead of what was heard.
    void StartRenderer() {
        if (!alcGetCurrentContext()) return;
        alGetError();
        alGenSources(1, &alSource);
        alGenBuffers(4, alBuffers);
        if (alGetError() != AL_NO_ERROR) {
            alSource = 0;
            return;
        }
        alSourcei(alSource, AL_SOURCE_RELATIVE, AL_TRUE);
        alSourcef(alSource, AL_ROLLOFF_FACTOR, 0.0f);
        freeBuffers.assign(alBuffers, alBuffers + 4);
        ApplyVolume();
    }
    void StopRenderer() {
        if (!alSource) return;
        alSourceStop(alSource);
        alSourcei(alSource, AL_BUFFER, 0);
        alDeleteSources(1, &alSource);
        alDeleteBuffers(4, alBuffers);
        alSource = 0;
        alGetError();
    }
    void ApplyVolume() {
        if (alSource) alSourcef(alSource, AL_GAIN, DS_VolumeToGain(volume));
    }
    void Pump() {
        if (!alSource || !source || state != State_Running) return;
        ALint processed = 0;
        alGetSourcei(alSource, AL_BUFFERS_PROCESSED, &processed);
        while (processed-- > 0) {
            ALuint b = 0;
            alSourceUnqueueBuffers(alSource, 1, &b);
            freeBuffers.push_back(b);
        }
        const WAVEFORMATEX& f = source->AudioFormat();
        std::vector<uint8_t> chunk(f.nAvgBytesPerSec / 10);
        while (!freeBuffers.empty() && !rendererEnded) {
            int64_t start = 0;
            uint32_t n = source->ReadAudio(chunk.data(), static_cast<uint32_t>(chunk.size()), &start);
            if (n == 0) {
                rendererEnded = true;
                break;
            }
            ALuint b = freeBuffers.back();
            freeBuffers.pop_back();
            alBufferData(b, f.nChannels == 2 ? AL_FORMAT_STEREO16 : AL_FORMAT_MONO16, chunk.data(),
                         static_cast<ALsizei>(n), static_cast<ALsizei>(f.nSamplesPerSec));
            alSourceQueueBuffers(alSource, 1, &b);
        }
        ALint st = AL_STOPPED;
        alGetSourcei(alSource, AL_SOURCE_STATE, &st);
        ALint queued = 0;
        alGetSourcei(alSource, AL_BUFFERS_QUEUED, &queued);
        if (st != AL_PLAYING && queued > 0) alSourcePlay(alSource);
        alGetError();
    }
};

// ---------------------------------------------------------------- reference-counted facades
template <class I>
class Facade : public I {
public:
    explicit Facade(Core* core) : core_(core) {
        core_->Ref();
        ++g_live;
    }
    virtual ~Facade() {
        --g_live;
        core_->Unref();
    }
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }

protected:
    // The answer of a facade that offers only its own interface.
    HRESULT QueryOwn(const GUID& iid, const GUID& own, void** out) {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (!DS_GuidEqual(iid, own)) return E_NOINTERFACE;
        AddRef();
        *out = static_cast<I*>(this);
        return S_OK;
    }

    Core* core_;
    ULONG refs_ = 1;
};

class Control final : public Facade<IMediaControl> {
public:
    using Facade::Facade;
    HRESULT Run() override {
        g_seam.calls.emplace_back("Run");
        if (g_seam.failRun) return E_FAIL;
        core_->Run();
        return S_OK;
    }
    HRESULT Pause() override {
        g_seam.calls.emplace_back("Pause");
        core_->Pause();
        return S_OK;
    }
    HRESULT Stop() override {
        g_seam.calls.emplace_back("Stop");
        core_->Stop();
        return S_OK;
    }
    HRESULT GetState(LONG, OAFilterState* s) override {
        if (!s) return E_POINTER;
        *s = core_->state;
        return S_OK;
    }
};

class Position final : public Facade<IMediaPosition> {
public:
    using Facade::Facade;
    HRESULT get_Duration(REFTIME* d) override {
        if (!d) return E_POINTER;
        *d = core_->source ? static_cast<double>(core_->source->Duration()) / kHns : 0.0;
        return S_OK;
    }
    HRESULT put_CurrentPosition(REFTIME t) override {
        char line[64];
        std::snprintf(line, sizeof line, "put_CurrentPosition %.3f", t);
        g_seam.calls.emplace_back(line);
        if (!core_->source) return E_FAIL;
        core_->SeekTo(static_cast<int64_t>(std::llround(t * kHns)));
        return S_OK;
    }
    HRESULT get_CurrentPosition(REFTIME* t) override {
        if (!t) return E_POINTER;
        core_->Pump();
        int64_t now = core_->Time();
        if (core_->source && core_->source->Duration() > 0) now = std::min(now, core_->source->Duration());
        *t = static_cast<double>(now) / kHns;
        return S_OK;
    }
    HRESULT put_Rate(double r) override {
        if (r <= 0) return E_INVALIDARG;
        core_->SetRate(r);
        return S_OK;
    }
    HRESULT get_Rate(double* r) override {
        if (!r) return E_POINTER;
        *r = core_->rate;
        return S_OK;
    }
    HRESULT CanSeekForward(LONG* can) override {
        if (!can) return E_POINTER;
        *can = OATRUE;
        return S_OK;
    }
};

class BasicAudio final : public Facade<IBasicAudio> {
public:
    using Facade::Facade;
    HRESULT put_Volume(LONG v) override {
        if (v < -10000 || v > 0) return E_INVALIDARG;
        core_->volume = v;
        core_->ApplyVolume();
        g_seam.calls.emplace_back("put_Volume " + std::to_string(v));
        return S_OK;
    }
    HRESULT get_Volume(LONG* v) override {
        if (!v) return E_POINTER;
        *v = core_->volume;
        return S_OK;
    }
};

class Graph final : public Facade<IGraphBuilder> {
public:
    using Facade::Facade;
    HRESULT QueryInterface(const GUID& iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (DS_GuidEqual(iid, IID_IMediaControl)) {
            if (g_seam.failControl) return E_NOINTERFACE;
            *out = static_cast<IMediaControl*>(new Control(core_));
        } else if (DS_GuidEqual(iid, IID_IMediaPosition)) {
            if (g_seam.failPosition) return E_NOINTERFACE;
            *out = static_cast<IMediaPosition*>(new Position(core_));
        } else if (DS_GuidEqual(iid, IID_IBasicAudio)) {
            if (g_seam.failBasicAudio) return E_NOINTERFACE;
            *out = static_cast<IBasicAudio*>(new BasicAudio(core_));
        } else {
            return E_NOINTERFACE;
        }
        return S_OK;
    }
    HRESULT AddFilter(IBaseFilter* filter, const char*) override {
        if (!filter) return E_POINTER;
        filter->AddRef();
        core_->filters.push_back(filter);
        if (DS_GuidEqual(static_cast<Filter*>(filter)->Clsid(), CLSID_DSoundRender)) core_->audioRenderer = true;
        return S_OK;
    }
    HRESULT RemoveFilter(IBaseFilter* filter) override {
        auto it = std::find(core_->filters.begin(), core_->filters.end(), filter);
        if (it == core_->filters.end()) return VFW_E_NOT_FOUND;
        core_->filters.erase(it);
        filter->Release();
        return S_OK;
    }
    HRESULT AddSourceFilter(const char* file, const char*, IBaseFilter** out) override {
        if (!out || !file) return E_POINTER;
        *out = nullptr;
        if (g_reader.size(file) <= 0) return VFW_E_NOT_FOUND;
        auto* f = new Filter(GUID{}, file);
        AddFilter(f, nullptr);
        *out = f;
        return S_OK;
    }
    HRESULT Render(IPin* pin) override {
        if (!pin) return E_POINTER;
        g_seam.calls.emplace_back("Render");
        if (g_seam.failOpen || !core_->Open(static_cast<Pin*>(pin)->Owner()->Path().c_str()))
            return VFW_E_CANNOT_RENDER;
        return S_OK;
    }
};

// ---------------------------------------------------------------- video samples
class Surface final : public IDirectDrawSurface {
public:
    Surface(int w, int h) : w_(w), h_(h), bits_(static_cast<size_t>(w) * h * 4) { ++g_live; }
    ~Surface() { --g_live; }
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }
    HRESULT GetSurfaceDesc(DDSURFACEDESC* d) override {
        if (!d) return E_POINTER;
        Describe(d);
        d->lpSurface = nullptr;
        return S_OK;
    }
    HRESULT Lock(RECT*, DDSURFACEDESC* d, DWORD, void*) override {
        if (!d) return E_POINTER;
        if (locked_) return E_FAIL;
        Describe(d);
        d->lpSurface = bits_.data();
        locked_ = true;
        return S_OK;
    }
    HRESULT Unlock(void*) override {
        if (!locked_) return E_FAIL;
        locked_ = false;
        return S_OK;
    }
    std::vector<uint8_t>& Bits() { return bits_; }

private:
    void Describe(DDSURFACEDESC* d) const {
        *d = DDSURFACEDESC{};
        d->dwSize = sizeof *d;
        d->dwWidth = static_cast<DWORD>(w_);
        d->dwHeight = static_cast<DWORD>(h_);
        d->lPitch = w_ * 4;
        d->ddpfPixelFormat = DDPIXELFORMAT{sizeof(DDPIXELFORMAT), 0x40, 0, 32, 0xFF0000, 0xFF00, 0xFF, 0};
    }
    int w_, h_;
    std::vector<uint8_t> bits_;
    ULONG refs_ = 1;
    bool locked_ = false;
};

class VideoSample final : public Facade<IDirectDrawStreamSample> {
public:
    VideoSample(Core* core, Surface* surface) : Facade(core), surface_(surface) {}
    ~VideoSample() { surface_->Release(); }
    HRESULT GetSurface(IDirectDrawSurface** s, RECT* rect) override {
        if (s) {
            surface_->AddRef();
            *s = surface_;
        }
        if (rect && core_->source) *rect = RECT{0, 0, core_->source->Width(), core_->source->Height()};
        return S_OK;
    }
    HRESULT GetSampleTimes(STREAM_TIME* start, STREAM_TIME* end, STREAM_TIME* current) override {
        if (start) *start = start_;
        if (end) *end = end_;
        if (current) *current = core_->Time();
        return S_OK;
    }
    HRESULT Update(DWORD, void*, void*, DWORD_PTR) override {
        if (!core_->source || !core_->source->HasVideo()) return MS_E_NOSTREAM;
        if (status_ == MS_S_PENDING && generation_ == core_->generation) return MS_E_BUSY;
        core_->Pump();
        if (!held_ || generation_ != core_->generation) {
            if (generation_ != core_->generation) shown_ = false;
            generation_ = core_->generation;
            int64_t len = 0;
            int r = core_->source->NextVideo(frame_, &pts_, &len);
            if (r < 0) return status_ = E_FAIL;
            if (r == 0) return status_ = MS_S_ENDOFSTREAM;
            held_ = true;
            frameLength_ = len;
            if (!CatchUp()) return status_ = E_FAIL;
        }
        status_ = MS_S_PENDING;
        return Complete();
    }
    HRESULT CompletionStatus(DWORD flags, DWORD) override {
        core_->Pump();
        if (status_ != MS_S_PENDING) {
            HRESULT s = status_;
            if (s == S_OK) status_ = MS_S_NOUPDATE;
            return s;
        }
        if (generation_ != core_->generation) {
            // A seek dropped the frame this update was waiting for.
            held_ = false;
            status_ = MS_S_NOUPDATE;
            return MS_S_NOUPDATE;
        }
        if (flags & COMPSTAT_ABORT) {
            status_ = E_ABORT;
            return E_ABORT;
        }
        if (!CatchUp()) return status_ = E_FAIL;
        HRESULT r = Complete();
        if (r == S_OK) status_ = MS_S_NOUPDATE;
        return r;
    }

private:
    // A sample polled more slowly than the frame rate would fall behind the
    // clock: the held frame moves on to the one due now, dropping those whose
    // time has passed. The first frame after the start or a seek and the last
    // frame of the stream are always kept.
    bool CatchUp() {
        if (!shown_) return true;
        const int64_t now = core_->Time();
        while (held_ && pts_ + frameLength_ <= now) {
            int64_t pts = 0, len = 0;
            int r = core_->source->NextVideo(next_, &pts, &len);
            if (r < 0) return false;
            if (r == 0) break;
            frame_.swap(next_);
            pts_ = pts;
            frameLength_ = len;
        }
        return true;
    }

    // The held frame goes into the surface once the clock has reached it.
    HRESULT Complete() {
        if (core_->state != State_Running || pts_ > core_->Time()) return MS_S_PENDING;
        std::vector<uint8_t>& bits = surface_->Bits();
        std::memcpy(bits.data(), frame_.data(), std::min(bits.size(), frame_.size()));
        start_ = pts_;
        end_ = pts_ + frameLength_;
        held_ = false;
        shown_ = true;
        status_ = S_OK;
        return S_OK;
    }
    Surface* surface_;
    std::vector<uint8_t> frame_, next_;
    bool held_ = false;
    bool shown_ = false;  // a frame of this generation went into the surface
    int64_t pts_ = 0, frameLength_ = 0, start_ = 0, end_ = 0;
    HRESULT status_ = MS_S_NOUPDATE;
    int generation_ = 0;
};

// ---------------------------------------------------------------- audio samples
class AudioData final : public IAudioData {
public:
    AudioData() { ++g_live; }
    ~AudioData() { --g_live; }
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }
    HRESULT SetBuffer(DWORD size, BYTE* data, DWORD) override {
        if (!data || size == 0) return E_INVALIDARG;
        size_ = size;
        data_ = data;
        actual_ = 0;
        return S_OK;
    }
    HRESULT GetInfo(DWORD* length, BYTE** data, DWORD* actual) override {
        if (length) *length = size_;
        if (data) *data = data_;
        if (actual) *actual = actual_;
        return S_OK;
    }
    HRESULT SetActual(DWORD actual) override {
        if (actual > size_) return E_INVALIDARG;
        actual_ = actual;
        return S_OK;
    }
    HRESULT SetFormat(const WAVEFORMATEX* f) override {
        if (!f) return E_POINTER;
        format_ = *f;
        return S_OK;
    }
    HRESULT GetFormat(WAVEFORMATEX* f) override {
        if (!f) return E_POINTER;
        *f = format_;
        return S_OK;
    }

private:
    ULONG refs_ = 1;
    DWORD size_ = 0, actual_ = 0;
    BYTE* data_ = nullptr;
    WAVEFORMATEX format_{};
};

class AudioSample final : public Facade<IAudioStreamSample> {
public:
    AudioSample(Core* core, IAudioData* data) : Facade(core), data_(data) { data_->AddRef(); }
    ~AudioSample() { data_->Release(); }
    HRESULT GetAudioData(IAudioData** d) override {
        if (!d) return E_POINTER;
        data_->AddRef();
        *d = data_;
        return S_OK;
    }
    HRESULT GetSampleTimes(STREAM_TIME* start, STREAM_TIME* end, STREAM_TIME* current) override {
        if (start) *start = start_;
        if (end) *end = end_;
        if (current) *current = core_->Time();
        return S_OK;
    }
    HRESULT Update(DWORD, void*, void*, DWORD_PTR) override {
        if (!core_->source || !core_->source->HasAudio()) return MS_E_NOSTREAM;
        DWORD size = 0;
        BYTE* bytes = nullptr;
        data_->GetInfo(&size, &bytes, nullptr);
        if (!bytes) return E_POINTER;
        int64_t start = 0;
        uint32_t n = core_->source->ReadAudio(bytes, size, &start);
        data_->SetActual(n);
        if (n == 0) return status_ = MS_S_ENDOFSTREAM;
        const WAVEFORMATEX& f = core_->source->AudioFormat();
        start_ = start;
        end_ = start + static_cast<int64_t>(n) * kHns / f.nAvgBytesPerSec;
        return status_ = S_OK;
    }
    HRESULT CompletionStatus(DWORD, DWORD) override { return status_; }

private:
    IAudioData* data_;
    int64_t start_ = 0, end_ = 0;
    HRESULT status_ = MS_S_NOUPDATE;
};

// ---------------------------------------------------------------- media streams
class VideoStream final : public Facade<IDirectDrawMediaStream> {
public:
    using Facade::Facade;
    HRESULT QueryInterface(const GUID& iid, void** out) override {
        return QueryOwn(iid, IID_IDirectDrawMediaStream, out);
    }
    HRESULT GetFormat(DDSURFACEDESC* d) override {
        if (!d) return E_POINTER;
        if (!core_->source || !core_->source->HasVideo()) return MS_E_NOSTREAM;
        Surface s(core_->source->Width(), core_->source->Height());
        return s.GetSurfaceDesc(d);
    }
    HRESULT CreateSample(IDirectDrawSurface*, const RECT*, DWORD, IDirectDrawStreamSample** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (g_seam.failVideoSample) return MS_E_SAMPLEALLOC;
        if (!core_->source || !core_->source->HasVideo()) return MS_E_NOSTREAM;
        *out = new VideoSample(core_, new Surface(core_->source->Width(), core_->source->Height()));
        return S_OK;
    }
};

class AudioStream final : public Facade<IAudioMediaStream> {
public:
    using Facade::Facade;
    HRESULT QueryInterface(const GUID& iid, void** out) override { return QueryOwn(iid, IID_IAudioMediaStream, out); }
    HRESULT GetFormat(WAVEFORMATEX* f) override {
        if (!f) return E_POINTER;
        if (!core_->source || !core_->source->HasAudio()) return MS_E_NOSTREAM;
        *f = core_->source->AudioFormat();
        return S_OK;
    }
    HRESULT CreateSample(IAudioData* data, DWORD, IAudioStreamSample** out) override {
        if (!out || !data) return E_POINTER;
        *out = new AudioSample(core_, data);
        return S_OK;
    }
};

class MultiMediaStream final : public Facade<IAMMultiMediaStream> {
public:
    using Facade::Facade;
    HRESULT Initialize(STREAM_TYPE type, DWORD, IGraphBuilder* graph) override {
        if (g_seam.failInitialize || type != STREAMTYPE_READ || graph) return E_FAIL;
        core_->initialized = true;
        return S_OK;
    }
    HRESULT GetFilterGraph(IGraphBuilder** graph) override {
        if (!graph) return E_POINTER;
        *graph = core_->initialized ? new Graph(core_) : nullptr;
        return *graph ? S_OK : MS_E_NOTINIT;
    }
    HRESULT AddMediaStream(void*, const GUID* purpose, DWORD flags, IMediaStream** out) override {
        if (out) *out = nullptr;
        if (!purpose || !core_->initialized) return E_INVALIDARG;
        if (DS_GuidEqual(*purpose, MSPID_PrimaryVideo)) {
            if (g_seam.failAddVideo) return MS_E_PURPOSEID;
            core_->videoWanted = true;
        } else if (DS_GuidEqual(*purpose, MSPID_PrimaryAudio)) {
            if (g_seam.failAddAudio) return MS_E_PURPOSEID;
            if (flags & AMMSF_ADDDEFAULTRENDERER) core_->audioRenderer = true;
            else core_->audioWanted = true;
        } else {
            return MS_E_PURPOSEID;
        }
        return S_OK;
    }
    HRESULT GetMediaStream(const GUID& purpose, IMediaStream** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        MediaSource* s = core_->source.get();
        if (DS_GuidEqual(purpose, MSPID_PrimaryVideo)) {
            if (g_seam.failGetVideo || !core_->videoWanted || !s || !s->HasVideo()) return MS_E_NOSTREAM;
            *out = new VideoStream(core_);
        } else if (DS_GuidEqual(purpose, MSPID_PrimaryAudio)) {
            if (g_seam.failGetAudio || !core_->audioWanted || !s || !s->HasAudio()) return MS_E_NOSTREAM;
            *out = new AudioStream(core_);
        } else {
            return MS_E_PURPOSEID;
        }
        return S_OK;
    }
    HRESULT OpenFile(const char* name, DWORD) override {
        if (!name) return E_POINTER;
        g_seam.calls.emplace_back(std::string("OpenFile ") + name);
        if (g_seam.failOpen || !core_->Open(name)) return VFW_E_NOT_FOUND;
        return S_OK;
    }
    HRESULT SetState(STREAM_STATE state) override {
        if (state == STREAMSTATE_RUN) core_->Run();
        else core_->Stop();
        return S_OK;
    }
    HRESULT GetTime(STREAM_TIME* t) override {
        if (!t) return E_POINTER;
        core_->Pump();
        *t = core_->Time();
        return S_OK;
    }
    HRESULT GetDuration(STREAM_TIME* d) override {
        if (!d) return E_POINTER;
        *d = core_->source ? core_->source->Duration() : 0;
        return S_OK;
    }
    HRESULT Seek(STREAM_TIME t) override {
        if (!core_->source) return MS_E_NOSEEKING;
        core_->SeekTo(t);
        return S_OK;
    }
};

}  // namespace

HRESULT DShow_CreateInstance(const GUID& clsid, const GUID& iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (g_seam.failClasses.count(clsid.Data1)) return DSERR_CLASSNOTAVAILABLE;
    if (DS_GuidEqual(clsid, CLSID_AMMultiMediaStream)) {
        if (!DS_GuidEqual(iid, IID_IAMMultiMediaStream)) return E_NOINTERFACE;
        *out = static_cast<IAMMultiMediaStream*>(new MultiMediaStream(new Core()));
        return S_OK;
    }
    if (DS_GuidEqual(clsid, CLSID_AMAudioData)) {
        if (!DS_GuidEqual(iid, IID_IAudioData)) return E_NOINTERFACE;
        *out = static_cast<IAudioData*>(new AudioData());
        return S_OK;
    }
    static const GUID* kFilters[] = {&CLSID_CMpegAudioCodec, &CLSID_MP3Decoder,    &CLSID_DMOWrapperFilter,
                                     &CLSID_CMpegVideoCodec, &CLSID_MPEG1Splitter, &CLSID_DSoundRender};
    for (const GUID* f : kFilters) {
        if (!DS_GuidEqual(clsid, *f)) continue;
        auto* filter = new Filter(clsid, std::string());
        HRESULT hr = filter->QueryInterface(iid, out);
        filter->Release();
        return hr;
    }
    return DSERR_CLASSNOTAVAILABLE;
}

namespace {
template <const GUID* Class>
HRESULT Factory(const GUID& iid, void** out) {
    return DShow_CreateInstance(*Class, iid, out);
}
}  // namespace

void DShow_RegisterClasses() {
    Win32_RegisterClass(CLSID_AMMultiMediaStream, Factory<&CLSID_AMMultiMediaStream>);
    Win32_RegisterClass(CLSID_AMAudioData, Factory<&CLSID_AMAudioData>);
    Win32_RegisterClass(CLSID_CMpegAudioCodec, Factory<&CLSID_CMpegAudioCodec>);
    Win32_RegisterClass(CLSID_MP3Decoder, Factory<&CLSID_MP3Decoder>);
    Win32_RegisterClass(CLSID_DMOWrapperFilter, Factory<&CLSID_DMOWrapperFilter>);
    Win32_RegisterClass(CLSID_CMpegVideoCodec, Factory<&CLSID_CMpegVideoCodec>);
    Win32_RegisterClass(CLSID_MPEG1Splitter, Factory<&CLSID_MPEG1Splitter>);
    Win32_RegisterClass(CLSID_DSoundRender, Factory<&CLSID_DSoundRender>);
}

void DShow_SetFileReader(const DShowFileReader* reader) {
    g_reader = reader && reader->open && reader->read && reader->seek && reader->tell && reader->close && reader->size
                   ? *reader
                   : kDiskReader;
}

DShowSeam& DShow_Seam() { return g_seam; }
void DShow_ResetSeam() { g_seam = DShowSeam{}; }
void DShow_SeamAdvance(int64_t ms) { g_seam.nowMs += ms; }
int DShow_LiveObjects() { return g_live; }

// Our DirectShow multimedia-stream subset over FFmpeg: a multimedia stream
// with its filter graph, the primary video stream with DirectDraw-style
// samples and surfaces (32-bit frames), the primary audio stream with audio
// samples over an audio data block (16-bit PCM), media position and control,
// and the basic audio of the renderer path. Files are read through the reader
// the system layer hands in (its file layer, so catalog members play). Nothing
// runs in a thread: decoding happens in the calls, timed by the graph's clock
// (real time, or the test seam's).
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/win32/basetypes.h"

#include "platform/dsound/dsound.h"

using STREAM_TIME = int64_t;  // 100-ns units
using REFTIME = double;       // seconds
using OAFilterState = LONG;

// ---------------------------------------------------------------- results
constexpr HRESULT MS_S_PENDING = 0x00040001;
constexpr HRESULT MS_S_NOUPDATE = 0x00040002;
constexpr HRESULT MS_S_ENDOFSTREAM = 0x00040003;
constexpr HRESULT MS_E_SAMPLEALLOC = static_cast<HRESULT>(0x80040401u);
constexpr HRESULT MS_E_PURPOSEID = static_cast<HRESULT>(0x80040402u);
constexpr HRESULT MS_E_NOSTREAM = static_cast<HRESULT>(0x80040403u);
constexpr HRESULT MS_E_NOSEEKING = static_cast<HRESULT>(0x80040404u);
constexpr HRESULT MS_E_INCOMPATIBLE = static_cast<HRESULT>(0x80040405u);
constexpr HRESULT MS_E_BUSY = static_cast<HRESULT>(0x80040406u);
constexpr HRESULT MS_E_NOTINIT = static_cast<HRESULT>(0x80040407u);
constexpr HRESULT VFW_E_NOT_FOUND = static_cast<HRESULT>(0x80040216u);
constexpr HRESULT VFW_E_CANNOT_RENDER = static_cast<HRESULT>(0x80040218u);

constexpr LONG OATRUE = -1;
constexpr LONG OAFALSE = 0;

// ---------------------------------------------------------------- constants
enum STREAM_TYPE { STREAMTYPE_READ = 0, STREAMTYPE_WRITE = 1, STREAMTYPE_TRANSFORM = 2 };
enum STREAM_STATE { STREAMSTATE_STOP = 0, STREAMSTATE_RUN = 1 };
constexpr DWORD AMMSF_NOGRAPHTHREAD = 0x1;       // Initialize
constexpr DWORD AMMSF_ADDDEFAULTRENDERER = 0x1;  // AddMediaStream
constexpr DWORD AMMSF_NORENDER = 0x2;            // OpenFile
constexpr DWORD SSUPDATE_ASYNC = 0x1;
constexpr DWORD SSUPDATE_CONTINUOUS = 0x2;
constexpr DWORD COMPSTAT_NOUPDATEOK = 0x1;
constexpr DWORD COMPSTAT_WAIT = 0x2;
constexpr DWORD COMPSTAT_ABORT = 0x4;
constexpr DWORD DDLOCK_WAIT = 0x1;
constexpr DWORD DDLOCK_READONLY = 0x10;

// ---------------------------------------------------------------- class and purpose ids
constexpr GUID CLSID_AMMultiMediaStream = {
    0x49C47CE5, 0x9BA4, 0x11D0, {0x82, 0x12, 0x00, 0xC0, 0x4F, 0xC3, 0x2C, 0x45}};
constexpr GUID CLSID_AMAudioData = {0xF2468580, 0xAF8A, 0x11D0, {0x82, 0x12, 0x00, 0xC0, 0x4F, 0xC3, 0x2C, 0x45}};
constexpr GUID IID_IAMMultiMediaStream = {0xBEBE595C, 0x9A6F, 0x11D0, {0x8F, 0xDE, 0x00, 0xC0, 0x4F, 0xD9, 0x18, 0x9D}};
constexpr GUID IID_IAudioData = {0x54C719C0, 0xAF60, 0x11D0, {0x82, 0x12, 0x00, 0xC0, 0x4F, 0xC3, 0x2C, 0x45}};
constexpr GUID IID_IBaseFilter = {0x56A86895, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
constexpr GUID IID_IMediaControl = {0x56A868B1, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
constexpr GUID IID_IMediaPosition = {0x56A868B2, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
constexpr GUID IID_IBasicAudio = {0x56A868B3, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
constexpr GUID IID_IDirectDrawMediaStream = {
    0xF4104FCE, 0x9A70, 0x11D0, {0x8F, 0xDE, 0x00, 0xC0, 0x4F, 0xD9, 0x18, 0x9D}};
constexpr GUID IID_IAudioMediaStream = {0xF7537560, 0xA3BE, 0x11D0, {0x82, 0x12, 0x00, 0xC0, 0x4F, 0xC3, 0x2C, 0x45}};
constexpr GUID IID_IDMOWrapperFilter = {0x52D6F586, 0x9F0F, 0x4824, {0x8F, 0xC8, 0xE3, 0x2C, 0xA0, 0x49, 0x30, 0xC2}};
constexpr GUID MSPID_PrimaryVideo = {0xA35FF56A, 0x9FDA, 0x11D0, {0x8F, 0xDF, 0x00, 0xC0, 0x4F, 0xD9, 0x18, 0x9D}};
constexpr GUID MSPID_PrimaryAudio = {0xA35FF56B, 0x9FDA, 0x11D0, {0x8F, 0xDF, 0x00, 0xC0, 0x4F, 0xD9, 0x18, 0x9D}};

// Filters by their published class ids.
constexpr GUID CLSID_CMpegAudioCodec = {0x4A2286E0, 0x7BEF, 0x11CE, {0x9B, 0xD9, 0x00, 0x00, 0xE2, 0x02, 0x59, 0x9C}};
constexpr GUID CLSID_MP3Decoder = {0x38BE3000, 0xDBF4, 0x11D0, {0x86, 0x0E, 0x00, 0xA0, 0x24, 0xCF, 0xEF, 0x6D}};
constexpr GUID CLSID_DMOWrapperFilter = {0x94297043, 0xBD82, 0x4DFD, {0xB0, 0xDE, 0x81, 0x77, 0x73, 0x9C, 0x6D, 0x20}};
constexpr GUID CLSID_WMSpeechDecoderDMO = {
    0x874131CB, 0x4ECC, 0x443B, {0x89, 0x48, 0x74, 0x6B, 0x89, 0x59, 0x5D, 0x20}};
constexpr GUID DMOCATEGORY_AUDIO_DECODER = {
    0x57F2DB8B, 0xE6BB, 0x4513, {0x9D, 0x43, 0xDC, 0xD2, 0xA6, 0x59, 0x31, 0x25}};
constexpr GUID CLSID_CMpegVideoCodec = {0xFEB50740, 0x7BEF, 0x11CE, {0x9B, 0xD9, 0x00, 0x00, 0xE2, 0x02, 0x59, 0x9C}};
constexpr GUID CLSID_MPEG1Splitter = {0x336475D0, 0x942A, 0x11CE, {0xA8, 0x70, 0x00, 0xAA, 0x00, 0x2F, 0xEA, 0xB5}};
constexpr GUID CLSID_DSoundRender = {0x79376820, 0x07D0, 0x11CF, {0xA2, 0x4D, 0x00, 0x20, 0xAF, 0xD7, 0x97, 0x67}};

// ---------------------------------------------------------------- records
struct DDPIXELFORMAT {
    DWORD dwSize;
    DWORD dwFlags;
    DWORD dwFourCC;
    DWORD dwRGBBitCount;
    DWORD dwRBitMask;
    DWORD dwGBitMask;
    DWORD dwBBitMask;
    DWORD dwRGBAlphaBitMask;
};
struct DDSURFACEDESC {
    DWORD dwSize;
    DWORD dwFlags;
    DWORD dwHeight;
    DWORD dwWidth;
    LONG lPitch;
    void* lpSurface;
    DDPIXELFORMAT ddpfPixelFormat;
};

// ---------------------------------------------------------------- interfaces
class IPin {
public:
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    virtual ~IPin() = default;
};

class IBaseFilter {
public:
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;
    virtual HRESULT QueryInterface(const GUID& iid, void** out) = 0;
    virtual HRESULT FindPin(const char* id, IPin** pin) = 0;

protected:
    virtual ~IBaseFilter() = default;
};

class IDMOWrapperFilter {
public:
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;
    virtual HRESULT Init(const GUID& dmo, const GUID& category) = 0;

protected:
    virtual ~IDMOWrapperFilter() = default;
};

class IMediaControl {
public:
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;
    virtual HRESULT Run() = 0;
    virtual HRESULT Pause() = 0;
    virtual HRESULT Stop() = 0;
    virtual HRESULT GetState(LONG timeoutMs, OAFilterState* state) = 0;

protected:
    virtual ~IMediaControl() = default;
};
constexpr OAFilterState State_Stopped = 0, State_Paused = 1, State_Running = 2;

class IMediaPosition {
public:
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;
    virtual HRESULT get_Duration(REFTIME* length) = 0;
    virtual HRESULT put_CurrentPosition(REFTIME time) = 0;
    virtual HRESULT get_CurrentPosition(REFTIME* time) = 0;
    virtual HRESULT put_Rate(double rate) = 0;
    virtual HRESULT get_Rate(double* rate) = 0;
    virtual HRESULT CanSeekForward(LONG* can) = 0;

protected:
    virtual ~IMediaPosition() = default;
};

class IBasicAudio {
public:
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;
    virtual HRESULT put_Volume(LONG volume) = 0;
    virtual HRESULT get_Volume(LONG* volume) = 0;

protected:
    virtual ~IBasicAudio() = default;
};

class IGraphBuilder {
public:
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;
    // IID_IMediaControl, IID_IMediaPosition, IID_IBasicAudio.
    virtual HRESULT QueryInterface(const GUID& iid, void** out) = 0;
    virtual HRESULT AddFilter(IBaseFilter* filter, const char* name) = 0;
    virtual HRESULT RemoveFilter(IBaseFilter* filter) = 0;
    virtual HRESULT AddSourceFilter(const char* file, const char* label, IBaseFilter** filter) = 0;
    virtual HRESULT Render(IPin* pin) = 0;

protected:
    virtual ~IGraphBuilder() = default;
};

class IDirectDrawSurface {
public:
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;
    virtual HRESULT GetSurfaceDesc(DDSURFACEDESC* desc) = 0;
    virtual HRESULT Lock(RECT* rect, DDSURFACEDESC* desc, DWORD flags, void* event) = 0;
    virtual HRESULT Unlock(void* rect) = 0;

protected:
    virtual ~IDirectDrawSurface() = default;
};

class IStreamSample {
public:
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;
    virtual HRESULT GetSampleTimes(STREAM_TIME* start, STREAM_TIME* end, STREAM_TIME* current) = 0;
    virtual HRESULT Update(DWORD flags, void* event, void* apc, DWORD_PTR apcData) = 0;
    virtual HRESULT CompletionStatus(DWORD flags, DWORD milliseconds) = 0;

protected:
    virtual ~IStreamSample() = default;
};

class IDirectDrawStreamSample : public IStreamSample {
public:
    virtual HRESULT GetSurface(IDirectDrawSurface** surface, RECT* rect) = 0;
};

class IAudioData {
public:
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;
    virtual HRESULT SetBuffer(DWORD size, BYTE* data, DWORD flags) = 0;
    virtual HRESULT GetInfo(DWORD* length, BYTE** data, DWORD* actual) = 0;
    virtual HRESULT SetActual(DWORD actual) = 0;
    virtual HRESULT SetFormat(const WAVEFORMATEX* format) = 0;
    virtual HRESULT GetFormat(WAVEFORMATEX* format) = 0;

protected:
    virtual ~IAudioData() = default;
};

class IAudioStreamSample : public IStreamSample {
public:
    virtual HRESULT GetAudioData(IAudioData** data) = 0;
};

class IMediaStream {
public:
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;
    // IID_IDirectDrawMediaStream or IID_IAudioMediaStream.
    virtual HRESULT QueryInterface(const GUID& iid, void** out) = 0;

protected:
    virtual ~IMediaStream() = default;
};

class IDirectDrawMediaStream : public IMediaStream {
public:
    virtual HRESULT GetFormat(DDSURFACEDESC* current) = 0;
    virtual HRESULT CreateSample(IDirectDrawSurface* surface, const RECT* rect, DWORD flags,
                                 IDirectDrawStreamSample** sample) = 0;
};

class IAudioMediaStream : public IMediaStream {
public:
    virtual HRESULT GetFormat(WAVEFORMATEX* format) = 0;
    virtual HRESULT CreateSample(IAudioData* data, DWORD flags, IAudioStreamSample** sample) = 0;
};

class IAMMultiMediaStream {
public:
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;
    virtual HRESULT Initialize(STREAM_TYPE type, DWORD flags, IGraphBuilder* graph) = 0;
    virtual HRESULT GetFilterGraph(IGraphBuilder** graph) = 0;
    // streamObject is the DirectDraw object for video (may be null here).
    virtual HRESULT AddMediaStream(void* streamObject, const GUID* purpose, DWORD flags, IMediaStream** stream) = 0;
    virtual HRESULT GetMediaStream(const GUID& purpose, IMediaStream** stream) = 0;
    virtual HRESULT OpenFile(const char* name, DWORD flags) = 0;
    virtual HRESULT SetState(STREAM_STATE state) = 0;
    virtual HRESULT GetTime(STREAM_TIME* time) = 0;
    virtual HRESULT GetDuration(STREAM_TIME* duration) = 0;
    virtual HRESULT Seek(STREAM_TIME time) = 0;

protected:
    virtual ~IAMMultiMediaStream() = default;
};

// Class factory of the multimedia-stream classes and filters.
HRESULT DShow_CreateInstance(const GUID& clsid, const GUID& iid, void** out);
// Makes those classes known to CoCreateInstance (platform/win32/com.h); repeating it is harmless.
void DShow_RegisterClasses();

// How the streams read their files. Without a reader, names are opened on disk as given.
struct DShowFileReader {
    void* (*open)(const char* name);                         // null when there is no such file
    size_t (*read)(void* file, void* buffer, size_t bytes);  // bytes read, 0 at the end
    int (*seek)(void* file, int64_t offset, int whence);     // SEEK_SET/CUR/END; 0 on success
    int64_t (*tell)(void* file);
    void (*close)(void* file);
    int64_t (*size)(const char* name);  // bytes of the named file, 0 or less when missing
};
// The reader is copied; null goes back to the disk.
void DShow_SetFileReader(const DShowFileReader* reader);

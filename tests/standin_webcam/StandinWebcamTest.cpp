// The stand-in webcam as a program meets it: registered by its tool, listed by the System Device
// Enumerator, bound through its moniker, configured through IAMStreamConfig and streamed through
// Wine's own Sample Grabber and Null Renderer.
#include "standins/webcam/MediaType.h"
#include "standins/webcam/StandinPattern.h"
#include "standins/webcam/StandinWebcam.h"
#include "tests/support/TestSupport.h"

#include <dshow.h>
#include <qedit.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

using Microsoft::WRL::ComPtr;

// In libstrmiids, not in the headers.
extern "C" const CLSID CLSID_SampleGrabber;
extern "C" const CLSID CLSID_NullRenderer;

namespace {

#define EXPECT_OK(call) EXPECT_EQ((call), S_OK)
#define ASSERT_OK(call) ASSERT_EQ((call), S_OK)

// Unique to this process: ctest runs test programs in parallel in one Wine prefix.
std::wstring Instance(const wchar_t* name) {
    return L"swtest" + std::to_wstring(GetCurrentProcessId()) + L"." + name;
}

std::wstring ModuleDir() {
    wchar_t path[MAX_PATH];
    std::wstring dir(path, GetModuleFileNameW(nullptr, path, MAX_PATH));
    return dir.substr(0, dir.find_last_of(L"\\/"));
}

// Runs standin_webcam_reg.exe with args; its exit code. Quiet, its messages go nowhere.
DWORD RunTool(const std::wstring& args, bool quiet = false) {
    std::wstring command = L"\"" + ModuleDir() + L"\\..\\standins\\webcam\\standin_webcam_reg.exe\" " + args;
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    if (quiet) si.dwFlags = STARTF_USESTDHANDLES;  // with null handles
    PROCESS_INFORMATION pi;
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return ~0u;
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = ~0u;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return code;
}

struct MediaTypeDeleter {
    void operator()(AM_MEDIA_TYPE* mt) const { DeleteMediaType(mt); }
};
using MediaTypePtr = std::unique_ptr<AM_MEDIA_TYPE, MediaTypeDeleter>;

VIDEOINFOHEADER& Vih(const AM_MEDIA_TYPE& mt) { return *reinterpret_cast<VIDEOINFOHEADER*>(mt.pbFormat); }

std::optional<std::wstring> ReadProperty(IMoniker* device, const wchar_t* name) {
    ComPtr<IPropertyBag> bag;
    if (FAILED(device->BindToStorage(nullptr, nullptr, IID_PPV_ARGS(&bag)))) return std::nullopt;
    VARIANT v;
    VariantInit(&v);
    std::optional<std::wstring> value;
    if (SUCCEEDED(bag->Read(name, &v, nullptr)) && v.vt == VT_BSTR) value = v.bstrVal;
    VariantClear(&v);
    return value;
}

// The device whose FriendlyName is name, as a program finds it.
ComPtr<IMoniker> FindDevice(const std::wstring& name) {
    ComPtr<ICreateDevEnum> devices;
    ComPtr<IEnumMoniker> monikers;
    if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&devices))) ||
        devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0) != S_OK)
        return nullptr;
    ComPtr<IMoniker> device;
    while (monikers->Next(1, &device, nullptr) == S_OK) {
        if (ReadProperty(device.Get(), L"FriendlyName") == name) return device;
        device.Reset();
    }
    return nullptr;
}

ComPtr<IBaseFilter> Bind(const std::wstring& name) {
    ComPtr<IBaseFilter> filter;
    if (ComPtr<IMoniker> device = FindDevice(name)) device->BindToObject(nullptr, nullptr, IID_PPV_ARGS(&filter));
    return filter;
}

std::vector<ComPtr<IPin>> Pins(IBaseFilter* filter) {
    std::vector<ComPtr<IPin>> pins;
    ComPtr<IEnumPins> e;
    ComPtr<IPin> pin;
    if (SUCCEEDED(filter->EnumPins(&e)))
        while (e->Next(1, &pin, nullptr) == S_OK) pins.push_back(std::move(pin));
    return pins;
}

ComPtr<IPin> PinOf(IBaseFilter* filter, PIN_DIRECTION wanted) {
    for (auto& pin : Pins(filter)) {
        PIN_DIRECTION dir;
        if (SUCCEEDED(pin->QueryDirection(&dir)) && dir == wanted) return pin;
    }
    return nullptr;
}

std::wstring PinName(IPin* pin) {
    PIN_INFO info;
    if (FAILED(pin->QueryPinInfo(&info))) return L"";
    if (info.pFilter) info.pFilter->Release();
    return info.achName;
}

ComPtr<IAMStreamConfig> Config(IPin* pin) {
    ComPtr<IAMStreamConfig> config;
    pin->QueryInterface(IID_PPV_ARGS(&config));
    return config;
}

// What a format looks like through GetStreamCaps.
struct Expected {
    GUID subtype;
    DWORD compression;
    WORD bitCount;
    int width, height;
    DWORD imageSize;
};

Expected Yuy2(int w, int h) { return {MEDIASUBTYPE_YUY2, MAKEFOURCC('Y', 'U', 'Y', '2'), 16, w, h, DWORD(w * h * 2)}; }
Expected Mjpg(int w, int h) { return {MEDIASUBTYPE_MJPG, MAKEFOURCC('M', 'J', 'P', 'G'), 24, w, h, DWORD(w * h * 2)}; }
Expected Rgb24(int w, int h) {
    return {MEDIASUBTYPE_RGB24, BI_RGB, 24, w, h, DWORD(StandinRgb24Stride(w) * h)};
}

void ExpectCaps(IAMStreamConfig* config, const std::vector<Expected>& expected) {
    int count = 0, size = 0;
    ASSERT_OK(config->GetNumberOfCapabilities(&count, &size));
    ASSERT_EQ(count, static_cast<int>(expected.size()));
    ASSERT_EQ(size, static_cast<int>(sizeof(VIDEO_STREAM_CONFIG_CAPS)));
    for (int i = 0; i < count; ++i) {
        SCOPED_TRACE(i);
        const Expected& e = expected[i];
        AM_MEDIA_TYPE* raw = nullptr;
        VIDEO_STREAM_CONFIG_CAPS caps;
        ASSERT_OK(config->GetStreamCaps(i, &raw, reinterpret_cast<BYTE*>(&caps)));
        MediaTypePtr mt(raw);
        EXPECT_EQ(mt->majortype, MEDIATYPE_Video);
        EXPECT_EQ(mt->subtype, e.subtype);
        ASSERT_EQ(mt->formattype, FORMAT_VideoInfo);
        ASSERT_GE(mt->cbFormat, sizeof(VIDEOINFOHEADER));
        const BITMAPINFOHEADER& bmi = Vih(*mt).bmiHeader;
        EXPECT_EQ(bmi.biWidth, e.width);
        EXPECT_EQ(bmi.biHeight, e.height);
        EXPECT_EQ(bmi.biCompression, e.compression);
        EXPECT_EQ(bmi.biBitCount, e.bitCount);
        EXPECT_EQ(bmi.biSizeImage, e.imageSize);
        EXPECT_EQ(Vih(*mt).AvgTimePerFrame, 333333);
        EXPECT_EQ(caps.guid, FORMAT_VideoInfo);
        EXPECT_EQ(caps.MinOutputSize.cx, e.width);
        EXPECT_EQ(caps.MinOutputSize.cy, e.height);
        EXPECT_EQ(caps.MaxOutputSize.cx, e.width);
        EXPECT_EQ(caps.MaxOutputSize.cy, e.height);
    }
    AM_MEDIA_TYPE* none = nullptr;
    VIDEO_STREAM_CONFIG_CAPS caps;
    EXPECT_EQ(config->GetStreamCaps(count, &none, reinterpret_cast<BYTE*>(&caps)), S_FALSE);
    EXPECT_EQ(config->GetStreamCaps(-1, &none, reinterpret_cast<BYTE*>(&caps)), E_INVALIDARG);
}

// The capability of config with this subtype and size.
MediaTypePtr Cap(IAMStreamConfig* config, const GUID& subtype, int w, int h) {
    int count = 0, size = 0;
    config->GetNumberOfCapabilities(&count, &size);
    for (int i = 0; i < count; ++i) {
        AM_MEDIA_TYPE* raw = nullptr;
        VIDEO_STREAM_CONFIG_CAPS caps;
        if (FAILED(config->GetStreamCaps(i, &raw, reinterpret_cast<BYTE*>(&caps)))) continue;
        MediaTypePtr mt(raw);
        if (mt->subtype == subtype && Vih(*mt).bmiHeader.biWidth == w && Vih(*mt).bmiHeader.biHeight == h)
            return mt;
    }
    return nullptr;
}

// Keeps the first samples the grabber hands over; not reference-counted, it outlives the graph.
class Collector final : public ISampleGrabberCB {
public:
    Collector() : full_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~Collector() { CloseHandle(full_); }

    void Expect(size_t count) {
        std::lock_guard<std::mutex> guard(lock_);
        samples_.clear();
        wanted_ = count;
        ResetEvent(full_);
    }
    // Waits for them, generously: a guard against hanging, not a timing check.
    std::vector<std::vector<uint8_t>> Take() {
        WaitForSingleObject(full_, 20000);
        std::lock_guard<std::mutex> guard(lock_);
        return samples_;
    }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IUnknown || riid == IID_ISampleGrabberCB) {
            *ppv = static_cast<ISampleGrabberCB*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP SampleCB(double, IMediaSample* sample) override {
        std::lock_guard<std::mutex> guard(lock_);
        BYTE* data = nullptr;
        if (samples_.size() < wanted_ && SUCCEEDED(sample->GetPointer(&data))) {
            samples_.emplace_back(data, data + sample->GetActualDataLength());
            if (samples_.size() == wanted_) SetEvent(full_);
        }
        return S_OK;
    }
    STDMETHODIMP BufferCB(double, BYTE*, long) override { return S_OK; }

private:
    std::mutex lock_;
    HANDLE full_;
    size_t wanted_ = 0;
    std::vector<std::vector<uint8_t>> samples_;
};

// device -> Sample Grabber -> Null Renderer, the way the program builds its streaming graph.
struct Graph {
    ComPtr<IGraphBuilder> builder;
    ComPtr<IMediaControl> control;
    ComPtr<IMediaEventEx> events;
    ComPtr<IBaseFilter> device, grabberFilter, renderer;
    ComPtr<ISampleGrabber> grabber;
    ComPtr<IPin> capture;

    ~Graph() {
        if (control) control->Stop();
    }
};

testing::AssertionResult Failed(const char* what, HRESULT hr) {
    return testing::AssertionFailure() << what << " failed: 0x" << std::hex << static_cast<unsigned long>(hr);
}
#define TRY(call)                                   \
    do {                                            \
        HRESULT hr_ = (call);                       \
        if (FAILED(hr_)) return Failed(#call, hr_); \
    } while (0)

testing::AssertionResult Build(Graph& g, const std::wstring& device, const GUID& subtype, int w, int h,
                               Collector* collector) {
    g.device = Bind(device);
    if (!g.device) return testing::AssertionFailure() << "cannot bind the device";
    TRY(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&g.builder)));
    TRY(g.builder.As(&g.control));
    TRY(g.builder->QueryInterface(IID_IMediaEventEx, reinterpret_cast<void**>(g.events.GetAddressOf())));
    TRY(g.builder->AddFilter(g.device.Get(), L"Webcam"));
    g.capture = PinOf(g.device.Get(), PINDIR_OUTPUT);
    ComPtr<IAMStreamConfig> config = Config(g.capture.Get());
    MediaTypePtr format = Cap(config.Get(), subtype, w, h);
    if (!format) return testing::AssertionFailure() << "no such format";
    TRY(config->SetFormat(format.get()));

    TRY(CoCreateInstance(CLSID_SampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&g.grabberFilter)));
    TRY(g.grabberFilter.As(&g.grabber));
    TRY(g.builder->AddFilter(g.grabberFilter.Get(), L"SampleGrabber"));
    AM_MEDIA_TYPE wanted = {};
    wanted.majortype = MEDIATYPE_Video;
    wanted.subtype = subtype;
    wanted.formattype = FORMAT_VideoInfo;
    TRY(g.grabber->SetMediaType(&wanted));
    TRY(g.builder->Connect(g.capture.Get(), PinOf(g.grabberFilter.Get(), PINDIR_INPUT).Get()));

    TRY(CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&g.renderer)));
    TRY(g.builder->AddFilter(g.renderer.Get(), L"Null Renderer"));
    TRY(g.builder->ConnectDirect(PinOf(g.grabberFilter.Get(), PINDIR_OUTPUT).Get(),
                                 PinOf(g.renderer.Get(), PINDIR_INPUT).Get(), nullptr));
    TRY(g.grabber->SetCallback(collector, 0));
    return testing::AssertionSuccess();
}

struct Device {
    const wchar_t* name;
    std::wstring options;
};

const std::wstring kFormats = L"YUY2 160x120;YUY2 320x240;RGB24 64x48;MJPG 640x480";

std::vector<Device> Devices() {
    return {
        {L"described", L"--friendly \"Described " + Instance(L"described") + L"\" --description \"A described camera\"" +
                           L" --formats \"" + kFormats + L"\""},
        {L"plain", L""},
        {L"twopins", L"--pins 2 --formats \"YUY2 160x120;YUY2 320x240;MJPG 640x480;YUY2 64x48;RGB24 32x24\""},
        {L"failing", L"--fail-bind"},
        {L"lost", L"--formats \"YUY2 64x48\""},
        {L"removed", L""},
    };
}

// Held alone while the devices are registered: a program that another test starts meanwhile would
// list them, and the failing one would show it an error.
std::unique_ptr<WebcamLock> g_webcamLock;

class StandinWebcamTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        g_webcamLock = std::make_unique<WebcamLock>(true);
        for (const auto& d : Devices()) ASSERT_EQ(RunTool(L"add " + Instance(d.name) + L" " + d.options), 0u);
    }
    static void TearDownTestSuite() {
        for (const auto& d : Devices()) RunTool(L"remove " + Instance(d.name));
        g_webcamLock.reset();
    }
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr))); }
    void TearDown() override { CoUninitialize(); }
};

TEST_F(StandinWebcamTest, EnumeratorListsDevicesWithTheirProperties) {
    const std::wstring described = L"Described " + Instance(L"described");
    ComPtr<IMoniker> device = FindDevice(described);
    ASSERT_TRUE(device);
    EXPECT_EQ(ReadProperty(device.Get(), L"Description"), L"A described camera");
    wchar_t clsid[40];
    StringFromGUID2(CLSID_StandinWebcam, clsid, 40);
    EXPECT_EQ(ReadProperty(device.Get(), L"CLSID"), clsid);

    device = FindDevice(Instance(L"plain"));  // FriendlyName defaults to the instance name
    ASSERT_TRUE(device);
    EXPECT_EQ(ReadProperty(device.Get(), L"Description"), std::nullopt);
}

TEST_F(StandinWebcamTest, RemovedDeviceLeavesTheList) {
    ASSERT_TRUE(FindDevice(Instance(L"removed")));
    ASSERT_EQ(RunTool(L"remove " + Instance(L"removed")), 0u);
    EXPECT_FALSE(FindDevice(Instance(L"removed")));
    EXPECT_EQ(RunTool(L"remove " + Instance(L"removed")), 0u);  // removing again is no error
}

TEST_F(StandinWebcamTest, CapturePinOffersTheRegisteredFormats) {
    struct Case {
        std::wstring device;
        std::vector<Expected> formats;
    } cases[] = {
        {L"Described " + Instance(L"described"), {Yuy2(160, 120), Yuy2(320, 240), Rgb24(64, 48), Mjpg(640, 480)}},
        {Instance(L"plain"), {Yuy2(160, 120), Yuy2(640, 480), Yuy2(1280, 720), Mjpg(640, 480)}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << std::string(c.device.begin(), c.device.end()));
        ComPtr<IBaseFilter> filter = Bind(c.device);
        ASSERT_TRUE(filter);
        auto pins = Pins(filter.Get());
        ASSERT_EQ(pins.size(), 1u);
        PIN_DIRECTION dir;
        ASSERT_OK(pins[0]->QueryDirection(&dir));
        EXPECT_EQ(dir, PINDIR_OUTPUT);
        EXPECT_EQ(PinName(pins[0].Get()), L"Capture");

        ComPtr<IKsPropertySet> props;
        ASSERT_OK(pins[0].As(&props));
        GUID category = GUID_NULL;
        DWORD returned = 0;
        EXPECT_OK(props->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &category, sizeof category,
                             &returned));
        EXPECT_EQ(category, PIN_CATEGORY_CAPTURE);
        EXPECT_EQ(returned, sizeof(GUID));

        ExpectCaps(Config(pins[0].Get()).Get(), c.formats);
    }
}

TEST_F(StandinWebcamTest, SecondPinTakesTheSecondHalfOfTheFormats) {
    ComPtr<IBaseFilter> filter = Bind(Instance(L"twopins"));
    ASSERT_TRUE(filter);
    auto pins = Pins(filter.Get());
    ASSERT_EQ(pins.size(), 2u);
    EXPECT_EQ(PinName(pins[0].Get()), L"Capture");
    EXPECT_EQ(PinName(pins[1].Get()), L"Capture 2");
    ExpectCaps(Config(pins[0].Get()).Get(), {Yuy2(160, 120), Yuy2(320, 240)});
    ExpectCaps(Config(pins[1].Get()).Get(), {Mjpg(640, 480), Yuy2(64, 48), Rgb24(32, 24)});

    ComPtr<IPin> found;
    EXPECT_OK(filter->FindPin(L"Capture 2", &found));
    EXPECT_EQ(found.Get(), pins[1].Get());
}

TEST_F(StandinWebcamTest, FailBindMakesBindToObjectFail) {
    ComPtr<IMoniker> device = FindDevice(Instance(L"failing"));
    ASSERT_TRUE(device);  // still listed, with its property bag
    ComPtr<IBaseFilter> filter;
    EXPECT_TRUE(FAILED(device->BindToObject(nullptr, nullptr, IID_PPV_ARGS(&filter))));
    EXPECT_FALSE(filter);
}

TEST_F(StandinWebcamTest, StreamConfigChoosesTheFormatOfTheConnection) {
    ComPtr<IBaseFilter> filter = Bind(L"Described " + Instance(L"described"));
    ASSERT_TRUE(filter);
    ComPtr<IPin> pin = PinOf(filter.Get(), PINDIR_OUTPUT);
    ComPtr<IAMStreamConfig> config = Config(pin.Get());
    auto formatOf = [&] {
        AM_MEDIA_TYPE* raw = nullptr;
        EXPECT_OK(config->GetFormat(&raw));
        MediaTypePtr mt(raw);
        return mt ? std::make_pair(Vih(*mt).bmiHeader.biWidth, mt->subtype) : std::make_pair(0L, GUID_NULL);
    };
    auto offered = [&] {
        ComPtr<IEnumMediaTypes> types;
        EXPECT_OK(pin->EnumMediaTypes(&types));
        std::vector<LONG> widths;
        AM_MEDIA_TYPE* raw = nullptr;
        while (types && types->Next(1, &raw, nullptr) == S_OK) {
            widths.push_back(Vih(*raw).bmiHeader.biWidth);
            DeleteMediaType(raw);
        }
        return widths;
    };
    EXPECT_EQ(formatOf(), std::make_pair(160L, MEDIASUBTYPE_YUY2));  // the first, until chosen
    EXPECT_EQ(offered(), (std::vector<LONG>{160, 320, 64, 640}));

    MediaTypePtr rgb = Cap(config.Get(), MEDIASUBTYPE_RGB24, 64, 48);
    ASSERT_TRUE(rgb);
    EXPECT_OK(config->SetFormat(rgb.get()));
    EXPECT_EQ(formatOf(), std::make_pair(64L, MEDIASUBTYPE_RGB24));
    EXPECT_EQ(offered(), (std::vector<LONG>{64}));
    EXPECT_EQ(pin->QueryAccept(rgb.get()), S_OK);
    MediaTypePtr yuy2 = Cap(config.Get(), MEDIASUBTYPE_YUY2, 160, 120);
    EXPECT_EQ(pin->QueryAccept(yuy2.get()), S_FALSE);

    Vih(*rgb).bmiHeader.biWidth = 66;  // no such size
    EXPECT_EQ(config->SetFormat(rgb.get()), VFW_E_INVALIDMEDIATYPE);
    EXPECT_EQ(formatOf(), std::make_pair(64L, MEDIASUBTYPE_RGB24));

    EXPECT_OK(config->SetFormat(nullptr));  // back to every format
    EXPECT_EQ(offered().size(), 4u);
}

TEST_F(StandinWebcamTest, StreamsThePatternFromFrameZeroOnEveryRun) {
    const std::wstring device = L"Described " + Instance(L"described");
    struct Case {
        const char* name;
        GUID subtype;
        int w, h;
        void (*frame)(uint8_t*, int, int, uint32_t);
        size_t size;
    } cases[] = {
        {"YUY2", MEDIASUBTYPE_YUY2, 320, 240, StandinYuy2Frame, 320 * 240 * 2},
        {"RGB24", MEDIASUBTYPE_RGB24, 64, 48, StandinRgb24Frame, size_t(StandinRgb24Stride(64)) * 48},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Collector collector;
        Graph g;
        ASSERT_TRUE(Build(g, device, c.subtype, c.w, c.h, &collector));
        AM_MEDIA_TYPE connected;
        ASSERT_OK(g.capture->ConnectionMediaType(&connected));
        EXPECT_EQ(Vih(connected).bmiHeader.biWidth, c.w);
        EXPECT_EQ(connected.subtype, c.subtype);
        FreeMediaType(connected);

        std::vector<uint8_t> expected(c.size);
        for (int run = 0; run < 2; ++run) {
            SCOPED_TRACE(run);
            collector.Expect(3);
            ASSERT_TRUE(SUCCEEDED(g.control->Run()));
            auto samples = collector.Take();
            ASSERT_OK(g.control->Stop());
            ASSERT_EQ(samples.size(), 3u);
            for (uint32_t n = 0; n < samples.size(); ++n) {
                c.frame(expected.data(), c.w, c.h, n);
                EXPECT_TRUE(samples[n] == expected) << "sample " << n << " is not frame " << n;
            }
        }
    }
}

TEST_F(StandinWebcamTest, MjpgSamplesAreJpegsOfTheFormatsSize) {
    Collector collector;
    Graph g;
    ASSERT_TRUE(Build(g, L"Described " + Instance(L"described"), MEDIASUBTYPE_MJPG, 640, 480, &collector));
    collector.Expect(1);
    ASSERT_TRUE(SUCCEEDED(g.control->Run()));
    auto samples = collector.Take();
    ASSERT_EQ(samples.size(), 1u);
    const auto& jpeg = samples[0];
    ASSERT_GT(jpeg.size(), 4u);
    EXPECT_EQ(jpeg[0], 0xFF);
    EXPECT_EQ(jpeg[1], 0xD8);
    EXPECT_EQ(jpeg[jpeg.size() - 2], 0xFF);
    EXPECT_EQ(jpeg[jpeg.size() - 1], 0xD9);
    size_t sof = 0;
    for (size_t i = 2; i + 9 < jpeg.size() && !sof; ++i)
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) sof = i;
    ASSERT_NE(sof, 0u);
    EXPECT_EQ(jpeg[sof + 5] << 8 | jpeg[sof + 6], 480);  // height, then width
    EXPECT_EQ(jpeg[sof + 7] << 8 | jpeg[sof + 8], 640);
}

// The frame a YUY2 sample shows, from its first luma sample (16 + n % 220).
uint32_t FrameOf(const std::vector<uint8_t>& sample) { return sample.empty() ? ~0u : sample[0] - 16u; }

TEST_F(StandinWebcamTest, StateChangesFollowTheGraph) {
    Collector collector;
    Graph g;
    ASSERT_TRUE(Build(g, L"Described " + Instance(L"described"), MEDIASUBTYPE_YUY2, 160, 120, &collector));
    FILTER_STATE state;
    ASSERT_TRUE(SUCCEEDED(g.control->Pause()));
    EXPECT_EQ(g.device->GetState(0, &state), VFW_S_CANT_CUE);  // live: nothing to cue while paused
    EXPECT_EQ(state, State_Paused);
    ComPtr<IAMStreamConfig> config = Config(g.capture.Get());
    MediaTypePtr other = Cap(config.Get(), MEDIASUBTYPE_YUY2, 320, 240);
    EXPECT_EQ(config->SetFormat(other.get()), VFW_E_NOT_STOPPED);
    EXPECT_EQ(g.capture->Disconnect(), VFW_E_NOT_STOPPED);

    collector.Expect(2);
    ASSERT_TRUE(SUCCEEDED(g.control->Run()));
    auto samples = collector.Take();
    ASSERT_EQ(samples.size(), 2u);
    EXPECT_EQ(FrameOf(samples[1]), 1u);
    EXPECT_OK(g.device->GetState(0, &state));
    EXPECT_EQ(state, State_Running);

    // A pause leaves the device's thread inside the paused renderer's Receive; running on
    // continues the count.
    ASSERT_TRUE(SUCCEEDED(g.control->Pause()));
    collector.Expect(1);
    ASSERT_TRUE(SUCCEEDED(g.control->Run()));
    samples = collector.Take();
    ASSERT_EQ(samples.size(), 1u);
    EXPECT_GE(FrameOf(samples[0]), 2u);

    ASSERT_TRUE(SUCCEEDED(g.control->Pause()));
    ASSERT_OK(g.control->Stop());  // returns although Receive was blocked
    EXPECT_OK(g.device->GetState(0, &state));
    EXPECT_EQ(state, State_Stopped);
}

TEST_F(StandinWebcamTest, SetFormatOnAConnectedPinReconnects) {
    Collector collector;
    Graph g;
    ASSERT_TRUE(Build(g, L"Described " + Instance(L"described"), MEDIASUBTYPE_YUY2, 160, 120, &collector));
    ComPtr<IAMStreamConfig> config = Config(g.capture.Get());
    MediaTypePtr larger = Cap(config.Get(), MEDIASUBTYPE_YUY2, 320, 240);
    ASSERT_OK(config->SetFormat(larger.get()));  // the graph reconnects, at once under Wine

    collector.Expect(1);
    ASSERT_TRUE(SUCCEEDED(g.control->Run()));
    auto samples = collector.Take();
    ASSERT_EQ(samples.size(), 1u);
    std::vector<uint8_t> expected(320 * 240 * 2);
    StandinYuy2Frame(expected.data(), 320, 240, 0);
    EXPECT_TRUE(samples[0] == expected);
}

TEST_F(StandinWebcamTest, LostEventReachesTheGraphsEvents) {
    Collector collector;
    Graph g;
    ASSERT_TRUE(Build(g, Instance(L"lost"), MEDIASUBTYPE_YUY2, 64, 48, &collector));
    collector.Expect(1);
    ASSERT_TRUE(SUCCEEDED(g.control->Run()));
    ASSERT_EQ(collector.Take().size(), 1u);

    ASSERT_EQ(RunTool(L"lose " + Instance(L"lost")), 0u);  // from another process
    long code = 0;
    LONG_PTR param1 = 0, param2 = -1;
    for (int waited = 0; code != EC_DEVICE_LOST && waited < 200; ++waited) {
        if (g.events->GetEvent(&code, &param1, &param2, 100) == S_OK && code != EC_DEVICE_LOST)
            g.events->FreeEventParams(code, param1, param2);
    }
    ASSERT_EQ(code, EC_DEVICE_LOST);
    ComPtr<IUnknown> identity;
    ASSERT_OK(g.device.As(&identity));
    EXPECT_EQ(reinterpret_cast<IUnknown*>(param1), identity.Get());
    EXPECT_EQ(param2, 0);
    g.events->FreeEventParams(code, param1, param2);
    g.control->Stop();

    HANDLE lost = OpenEventW(EVENT_MODIFY_STATE, FALSE, StandinWebcamLostEvent(Instance(L"lost")).c_str());
    ASSERT_TRUE(lost);
    ResetEvent(lost);  // plugged back in: the next run streams again
    CloseHandle(lost);
    collector.Expect(1);
    ASSERT_TRUE(SUCCEEDED(g.control->Run()));
    EXPECT_EQ(collector.Take().size(), 1u);
}

TEST_F(StandinWebcamTest, ToolRejectsBadArguments) {
    const std::wstring bad = Instance(L"bad");
    const std::wstring cases[] = {
        L"",
        L"add",
        L"frobnicate " + bad,
        L"add bad\\name",
        L"add " + bad + L" --formats \"YUV9 64x48\"",
        L"add " + bad + L" --formats \"YUY2 63x48\"",
        L"add " + bad + L" --formats \"YUY2 64x48;\"",
        L"add " + bad + L" --pins 2 --formats \"YUY2 64x48\"",
        L"add " + bad + L" --friendly",
        L"add " + bad + L" --colour blue",
    };
    for (const auto& args : cases) {
        SCOPED_TRACE(testing::Message() << std::string(args.begin(), args.end()));
        EXPECT_EQ(RunTool(args, true), 1u);
    }
    EXPECT_FALSE(FindDevice(bad));
}

}  // namespace

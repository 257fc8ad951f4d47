// The stand-in webcam: a DirectShow video capture source, standin_webcam.dll, that the System
// Device Enumerator lists under CLSID_VideoInputDeviceCategory, one device per registered
// instance, each with its own name and formats.
//
// Registration, with standin_webcam_reg.exe beside the DLL (run under Wine; exit code 0 on
// success, 1 with a message on the standard error):
//   standin_webcam_reg add <instance> [--friendly NAME] [--description TEXT]
//                          [--formats "YUY2 160x120;MJPG 640x480;RGB24 320x240"] [--pins N]
//                          [--fail-bind]
//   standin_webcam_reg remove <instance>
//   standin_webcam_reg clear             removes every instance of ours and the filter's class
//   standin_webcam_reg lose <instance>   sets the device-lost event below
// <instance> is made of letters, digits, '.', '-' and '_'. add replaces an instance of the same
// name. FriendlyName defaults to the instance name; Description is written only when given.
// Formats default to kStandinDefaultFormats; --pins N (1..4, at most one per format) splits them
// in order over pins "Capture", "Capture 2", ..., pin i taking formats [i*F/N, (i+1)*F/N).
// --fail-bind makes IMoniker::BindToObject fail (IPersistPropertyBag::Load returns E_FAIL).
//
// Registry layout (HKEY_CLASSES_ROOT):
//   CLSID\{4D780F13-20B0-495B-8B01-D44E73B506E3}            "Standin Webcam"
//     InprocServer32                                          full DLL path, ThreadingModel Both
//   CLSID\{860BB310-5D01-11D0-BD3B-00A0C911CE86}\Instance\<instance>
//     CLSID            the filter's CLSID above
//     FriendlyName     REG_SZ
//     Description      REG_SZ, only when given
//     StandinInstance  REG_SZ, the instance name (names the device-lost event)
//     StandinFormats   REG_SZ, as --formats
//     StandinPins      REG_DWORD
//     StandinFailBind  REG_DWORD, 1 to fail binding
// The filter reads the Standin values through IPersistPropertyBag::Load, which the device
// moniker's BindToObject calls with the instance's property bag. A filter made by plain
// CoCreateInstance has the default formats, one pin and no device-lost event.
//
// Streaming: frames go out at about 30 per second while the filter runs; paused, it sends none
// and GetState says VFW_S_CANT_CUE, as a live source does. Sample k that a pin
// delivers after the filter last left the stopped state (k = 0, 1, ...; a pause does not
// restart the count) is StandinYuy2Frame(k) for YUY2, StandinRgb24Frame(k) for RGB24 (bottom-up,
// BI_RGB, positive biHeight) and, for MJPG, a flat grey baseline JPEG of the format's size.
// Sample times are stream times of capture (graph clock minus the run's start time) with a
// duration of one frame, media times k to k + 1.
//
// Device lost: the manual-reset event named StandinWebcamLostEvent(instance), for example
// Local\StandinWebcamLost.cam1, in the session, so another process can set it. Every bound
// filter of that instance holds it open. While it is set, a filter that is paused or running
// sends EC_DEVICE_LOST (31) with (its IUnknown, 0) through the graph's IMediaEventSink, once
// until it is next stopped, and delivers nothing more. Reset it to plug the device back in: the
// next run streams again. A driver that sets it while no filter is bound must keep its own
// handle open, or the event and its state vanish with that handle.
#pragma once
#include <windows.h>

#include <string>

// {4D780F13-20B0-495B-8B01-D44E73B506E3}
inline constexpr GUID CLSID_StandinWebcam = {
    0x4d780f13, 0x20b0, 0x495b, {0x8b, 0x01, 0xd4, 0x4e, 0x73, 0xb5, 0x06, 0xe3}};

inline constexpr const wchar_t* kStandinDefaultFormats =
    L"YUY2 160x120;YUY2 640x480;YUY2 1280x720;MJPG 640x480";

inline std::wstring StandinWebcamLostEvent(const std::wstring& instance) {
    return L"Local\\StandinWebcamLost." + instance;
}

// The same operations, exported by standin_webcam.dll for in-process use (GetProcAddress).
// Null description/formats mean none/the defaults.
extern "C" {
HRESULT WINAPI StandinWebcamAdd(const wchar_t* instance, const wchar_t* friendlyName,
                                const wchar_t* description, const wchar_t* formats, int pins,
                                BOOL failBind);
HRESULT WINAPI StandinWebcamRemove(const wchar_t* instance);
HRESULT WINAPI StandinWebcamClear();
HRESULT WINAPI StandinWebcamLose(const wchar_t* instance);
}
using StandinWebcamAddFn = decltype(&StandinWebcamAdd);
using StandinWebcamRemoveFn = decltype(&StandinWebcamRemove);
using StandinWebcamClearFn = decltype(&StandinWebcamClear);
using StandinWebcamLoseFn = decltype(&StandinWebcamLose);

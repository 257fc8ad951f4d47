// Uncompressed AVI files through the platform's AVIFile interface: one 'vids' stream of key
// frames taken from a DIB section, 1000 / period frames per second, no audio. UI thread only.
#pragma once
#include <windows.h>
#include <mmsystem.h>
#include <vfw.h>
#include <string>

// Everything the writer asks of the system, replaceable so tests can make a call fail, report
// little free space or set a small size limit. AviWriterSystem() gives the real calls.
struct AviWriterPlatform {
    void(WINAPI* fileInit)();
    void(WINAPI* fileExit)();
    HRESULT(WINAPI* fileOpen)(PAVIFILE*, LPCWSTR, UINT, LPCLSID);
    HRESULT(WINAPI* createStream)(PAVIFILE, PAVISTREAM*, AVISTREAMINFOW*);
    HRESULT(WINAPI* makeCompressedStream)(PAVISTREAM*, PAVISTREAM, AVICOMPRESSOPTIONS*, CLSID*);
    HRESULT(WINAPI* setFormat)(PAVISTREAM, LONG, LPVOID, LONG);
    HRESULT(WINAPI* write)(PAVISTREAM, LONG, LONG, LPVOID, LONG, DWORD, LONG*, LONG*);
    ULONG(WINAPI* streamRelease)(PAVISTREAM);
    ULONG(WINAPI* fileRelease)(PAVIFILE);
    // Bytes the caller may still write in `folder` (with a trailing backslash); false when unknown.
    bool (*freeSpace)(const wchar_t* folder, ULONGLONG* bytes);
    // Largest file the writer lets grow: the RIFF header of AVI 1.0 counts in 32 bits, and players
    // stumble near 2 GiB, so 2 GiB - 64 MiB keeps room for padding and the index.
    ULONGLONG sizeLimit;
};
const AviWriterPlatform& AviWriterSystem();

constexpr ULONGLONG kAviSizeLimit = 2080374784;  // 2 GiB - 64 MiB
constexpr ULONGLONG kAviHeaderReserve = 65536;   // headers and the LIST 'movi' around the frames
constexpr ULONGLONG kAviChunkOverhead = 24;      // chunk header and its index entry, rounded up
constexpr ULONGLONG kAviFreeSpaceReserve = 1 << 20;

// Frame bytes of a DIB section: its rows as stored, padding included.
inline ULONGLONG AviFrameBytes(const DIBSECTION& dib) {
    return static_cast<ULONGLONG>(dib.dsBm.bmHeight < 0 ? -dib.dsBm.bmHeight : dib.dsBm.bmHeight) *
           static_cast<ULONGLONG>(dib.dsBm.bmWidthBytes);
}
// Whether one more frame keeps the file within `limit` after `frames` frames.
inline bool AviFrameFits(ULONGLONG frames, ULONGLONG frameBytes, ULONGLONG limit) {
    return kAviHeaderReserve + (frames + 1) * (kAviChunkOverhead + ((frameBytes + 1) & ~1ULL)) <= limit;
}
// Free space one more frame needs: its chunk, the index entries of every frame, and a margin the
// platform's own header writes at the close can use. AVIFile does not report a full disk reliably,
// so the writer asks before each frame.
inline ULONGLONG AviFreeSpaceNeeded(ULONGLONG frames, ULONGLONG frameBytes) {
    return 8 + frameBytes + 16 * (frames + 1) + kAviFreeSpaceReserve;
}

// One file being written. The first failing AVIFile call (or too little free space) sets `failed`,
// the size limit sets `full`; either way later frames are refused and the file keeps what was written.
struct AviWriter {
    PAVIFILE file;
    WAVEFORMATEX audioFormat;  // all zero: no audio is written
    int period;                // ms per frame, the stream's dwScale over a dwRate of 1000
    PAVISTREAM audioStream;    // never created
    PAVISTREAM videoStream;
    PAVISTREAM compressedStream;
    UINT32 frameCount;
    UINT32 audioSampleCount;
    bool failed;
    bool full;
    BITMAPINFOHEADER format;  // the stream's format, fixed by the first frame (biSize 0 until then)
    ULONGLONG frameBytes;
    std::wstring path;
    std::wstring folder;  // of the file, with a trailing backslash; empty when unknown
    AviWriterPlatform platform;
};

// Opens `path` for writing (created or emptied); null when that fails.
AviWriter* AviWriterCreate(const std::wstring& path, int periodMs, const WAVEFORMATEX* audioFormat,
                           const AviWriterPlatform& platform = AviWriterSystem());
// Appends the DIB section's bits as one key frame. 0 on success; AVIERR_BADHANDLE for no writer;
// AVIERR_BADPARAM for no DIB section, one with a colour table or of another size than the first
// frame (the writer stays usable); AVIERR_ERROR once failed or full; else the failing call's code,
// or AVIERR_FILEWRITE for too little free space.
HRESULT AviWriterAddFrame(AviWriter* writer, HBITMAP bitmap);
// Whether the file at path is a whole AVI form, index included, whose video stream holds `frames`
// frames; with none, a whole form (no index or stream needed). The platform's writer reports no
// error when its final header or index write fails, so a finished file is read back with this.
bool AviFileFinished(const std::wstring& path, UINT32 frames);
// Releases streams and file, which finishes the file, and frees the writer. 0, AVIERR_BADHANDLE for
// no writer, or AVIERR_FILEREAD when the finished file is not whole or does not read back with
// every written frame (also when none was written).
HRESULT AviWriterClose(AviWriter* writer);

#include "recording/AviWriter.h"

namespace {

bool SystemFreeSpace(const wchar_t* folder, ULONGLONG* bytes) {
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExW(folder, &available, nullptr, nullptr)) return false;
    *bytes = available.QuadPart;
    return true;
}

std::wstring FolderOf(const std::wstring& path) {
    wchar_t full[MAX_PATH];
    const DWORD n = GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr);
    const std::wstring absolute = n > 0 && n < MAX_PATH ? std::wstring(full, n) : path;
    const size_t slash = absolute.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : absolute.substr(0, slash + 1);
}

// Whether the file's RIFF form is whole: the file holds as many bytes as its size field says (some
// writers leave a few more), its top-level chunks end where the form does, and, when asked, the
// index is among them. A reader may rebuild a missing index from the frames, so reading the stream
// back does not show that the index write failed.
bool RiffComplete(const std::wstring& path, bool needIndex) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    auto readAt = [file](ULONGLONG offset, DWORD* words, DWORD count) {
        LARGE_INTEGER at;
        at.QuadPart = static_cast<LONGLONG>(offset);
        DWORD read = 0;
        return SetFilePointerEx(file, at, nullptr, FILE_BEGIN) &&
               ReadFile(file, words, count * sizeof(DWORD), &read, nullptr) && read == count * sizeof(DWORD);
    };
    LARGE_INTEGER size{};
    DWORD header[3];
    bool whole = GetFileSizeEx(file, &size) && readAt(0, header, 3) && header[0] == mmioFOURCC('R', 'I', 'F', 'F') &&
                 header[2] == formtypeAVI;
    const ULONGLONG end = whole ? static_cast<ULONGLONG>(header[1]) + 8 : 0;
    whole = whole && end <= static_cast<ULONGLONG>(size.QuadPart);
    bool indexed = false;
    ULONGLONG offset = 12;
    DWORD chunk[2];
    while (whole && offset < end) {
        whole = offset + 8 <= end && readAt(offset, chunk, 2);
        if (!whole) break;
        if (chunk[0] == ckidAVINEWINDEX) indexed = true;
        offset += 8 + static_cast<ULONGLONG>(chunk[1]) + (chunk[1] & 1);
    }
    CloseHandle(file);
    return whole && offset == end && (indexed || !needIndex);
}

}  // namespace

bool AviFileFinished(const std::wstring& path, UINT32 frames) {
    // Without a frame there is nothing to index or read back (and a reader may refuse a form that
    // holds no stream): the form itself must be whole.
    if (!RiffComplete(path, frames > 0)) return false;
    if (frames == 0) return true;
    PAVIFILE file = nullptr;
    if (AVIFileOpenW(&file, path.c_str(), OF_READ | OF_SHARE_DENY_WRITE, nullptr) != 0) return false;
    PAVISTREAM stream = nullptr;
    bool holds = false;
    if (AVIFileGetStream(file, &stream, streamtypeVIDEO, 0) == 0) {
        holds = AVIStreamLength(stream) == static_cast<LONG>(frames);
        AVIStreamRelease(stream);
    }
    AVIFileRelease(file);
    return holds;
}

namespace {

bool HasColourTableOrMasks(const BITMAPINFOHEADER& header) {
    return header.biBitCount <= 8 || header.biClrUsed != 0 || header.biCompression != BI_RGB;
}

}  // namespace

const AviWriterPlatform& AviWriterSystem() {
    static const AviWriterPlatform system{AVIFileInit,      AVIFileExit,        AVIFileOpenW,
                                          AVIFileCreateStreamW, AVIMakeCompressedStream, AVIStreamSetFormat,
                                          AVIStreamWrite,   AVIStreamRelease,   AVIFileRelease,
                                          SystemFreeSpace,  kAviSizeLimit};
    return system;
}

AviWriter* AviWriterCreate(const std::wstring& path, int periodMs, const WAVEFORMATEX* audioFormat,
                           const AviWriterPlatform& platform) {
    platform.fileInit();
    PAVIFILE file = nullptr;
    if (platform.fileOpen(&file, path.c_str(), OF_WRITE | OF_CREATE, nullptr) != 0) {
        platform.fileExit();
        return nullptr;
    }
    AviWriter* writer = new AviWriter{};
    writer->file = file;
    if (audioFormat) writer->audioFormat = *audioFormat;
    writer->period = periodMs;
    writer->path = path;
    writer->folder = FolderOf(path);
    writer->platform = platform;
    return writer;
}

HRESULT AviWriterAddFrame(AviWriter* writer, HBITMAP bitmap) {
    if (!writer) return AVIERR_BADHANDLE;
    DIBSECTION dib;
    if (!bitmap || GetObjectW(bitmap, sizeof dib, &dib) != sizeof dib) return AVIERR_BADPARAM;
    // The format is a bare header: a colour table or bit masks would have to follow it.
    if (HasColourTableOrMasks(dib.dsBmih)) return AVIERR_BADPARAM;
    BITMAPINFOHEADER header = dib.dsBmih;
    const bool otherSize = header.biWidth != writer->format.biWidth || header.biHeight != writer->format.biHeight ||
                           header.biBitCount != writer->format.biBitCount;
    if (writer->format.biSize != 0 && otherSize) return AVIERR_BADPARAM;
    if (writer->failed || writer->full) return AVIERR_ERROR;

    const AviWriterPlatform& platform = writer->platform;
    const ULONGLONG frameBytes = AviFrameBytes(dib);
    if (!AviFrameFits(writer->frameCount, frameBytes, platform.sizeLimit)) {
        writer->full = true;
        return AVIERR_ERROR;
    }
    ULONGLONG freeBytes = 0;
    const wchar_t* folder = writer->folder.empty() ? nullptr : writer->folder.c_str();
    // A folder that does not tell its free space (some network shares) is written without the check.
    if (platform.freeSpace(folder, &freeBytes) && freeBytes < AviFreeSpaceNeeded(writer->frameCount, frameBytes)) {
        writer->failed = true;
        return AVIERR_FILEWRITE;
    }

    // Some systems leave biSizeImage 0 in a DIB section; the padded rows are what is written.
    header.biSize = sizeof header;
    header.biSizeImage = static_cast<DWORD>(frameBytes);
    HRESULT result = 0;
    if (!writer->videoStream) {
        AVISTREAMINFOW info{};
        info.fccType = streamtypeVIDEO;
        info.fccHandler = 0;
        info.dwScale = static_cast<DWORD>(writer->period);
        info.dwRate = 1000;
        info.dwSuggestedBufferSize = header.biSizeImage;
        SetRect(&info.rcFrame, 0, 0, header.biWidth, header.biHeight < 0 ? -header.biHeight : header.biHeight);
        result = platform.createStream(writer->file, &writer->videoStream, &info);
        if (result != 0) {
            writer->videoStream = nullptr;
            writer->failed = true;
            return result;
        }
    }
    if (!writer->compressedStream) {
        AVICOMPRESSOPTIONS options{};
        options.fccHandler = mmioFOURCC('D', 'I', 'B', ' ');
        result = platform.makeCompressedStream(&writer->compressedStream, writer->videoStream, &options, nullptr);
        if (result != 0) {
            writer->compressedStream = nullptr;
            writer->failed = true;
            return result;
        }
        result = platform.setFormat(writer->compressedStream, 0, &header,
                                    static_cast<LONG>(header.biSize + header.biClrUsed * sizeof(RGBQUAD)));
        if (result != 0) {
            writer->failed = true;
            return result;
        }
        writer->format = header;
        writer->frameBytes = frameBytes;
    }
    result = platform.write(writer->compressedStream, static_cast<LONG>(writer->frameCount), 1, dib.dsBm.bmBits,
                            static_cast<LONG>(frameBytes), AVIIF_KEYFRAME, nullptr, nullptr);
    if (result != 0) {
        writer->failed = true;
        return result;
    }
    ++writer->frameCount;
    return 0;
}

HRESULT AviWriterClose(AviWriter* writer) {
    if (!writer) return AVIERR_BADHANDLE;
    const AviWriterPlatform& platform = writer->platform;
    if (writer->audioStream) platform.streamRelease(writer->audioStream);
    if (writer->compressedStream) platform.streamRelease(writer->compressedStream);
    if (writer->videoStream) platform.streamRelease(writer->videoStream);
    if (writer->file) platform.fileRelease(writer->file);
    // Without frames too: the release writes the headers, which a full disk cuts short or loses (and
    // a platform that writes none for a form without streams leaves no video file either).
    const HRESULT result = AviFileFinished(writer->path, writer->frameCount) ? 0 : AVIERR_FILEREAD;
    platform.fileExit();
    delete writer;
    return result;
}

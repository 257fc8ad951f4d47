// The FK40 camera library LYC_API.dll as the program uses it: six undecorated cdecl exports,
// looked up by name at run time. Shared by the device and by the stand-in library.
#pragma once

extern "C" {
using LYC_InitProc = int(__cdecl*)(void);
using LYC_GetStatusProc = int(__cdecl*)(int* status);
using LYC_GetIndexProc = int(__cdecl*)(int* index);
using LYC_GetFrameProc = int(__cdecl*)(unsigned char* buffer, int size, int* length);
using LYC_Set_DataFormatProc = int(__cdecl*)(int format);
using LYC_TermProc = int(__cdecl*)(void);
}

// Raw frame geometry: 202 rows of 101 groups of four little-endian 16-bit words U, Y0, V, Y1;
// each sample is its word shifted right by 4 (12 bits), chroma centred on 2048.
constexpr int kLycWidth = 202;
constexpr int kLycHeight = 202;
constexpr int kLycRawRowBytes = kLycWidth * 4;
constexpr int kLycRawSize = kLycRawRowBytes * kLycHeight;  // 163216

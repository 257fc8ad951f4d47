// Reads an image's .meta file back into its record.
#pragma once
#include "ui/ImageMetadata.h"

// metadataFolder + the image name without its last extension + ".meta" (no separator added).
// Lines are taken as UTF-8; where a line is not valid UTF-8, the service's texts (facility to
// endoscope type) keep their bytes escaped (Utf8ToWideKeepingBytes), and the operator's are taken
// byte by byte (WidenString), the older form of the file. CR before a line end is dropped.
// Members without a line, or every member when the file cannot be opened or does not fit
// (MetaFileFits), stay empty. Never reports anything.
ImageMetadata ReadMetaFile(const std::wstring& metadataFolder, const std::wstring& imageName);

// The records that carry a captured image through the cloud dialogs and into an upload, and the
// UTF-8 conversions between window text and the service's bytes.
#pragma once
#include "ui/ImageMetadata.h"
#include <string>

struct UploadItem {
    int index = 0;          // the entry's row in its thumbnail list when the list was filled
    std::wstring path;      // full path of the .bmp file
    std::wstring fileName;  // name with extension, no folder
};

// One upload: the item's fields and the test details read back from its .meta file.
struct UploadRecord {
    int index = 0;
    std::wstring path;
    std::wstring fileName;
    ImageMetadata metadata;
};


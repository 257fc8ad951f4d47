// Cameras the operator left out of the settings list and the reference capture; kept by value,
// since the providers may hand out new objects for the same device.
#pragma once
#include "video/VideoSource.h"
#include <string>
#include <vector>

struct ExcludedCamera {
    std::string description;
    std::string name;
};

// True when an entry has the source's description and name, byte for byte; a null source is not
// excluded.
inline bool IsExcluded(const std::vector<ExcludedCamera>& list, const VideoSource* source) {
    if (!source) return false;
    for (const ExcludedCamera& e : list)
        if (e.description == source->description && e.name == source->name) return true;
    return false;
}

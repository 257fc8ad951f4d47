// Builds one FK40 device against the camera library found in the folder given as the argument and
// reports whether it started, after whatever the device printed itself.
#include <cstdio>
#include "video/FK40Device.h"

int wmain(int argc, wchar_t** argv) {
    if (argc > 1) SetDllDirectoryW(argv[1]);
    auto* device = new FK40Device();
    std::printf("connected %d\n", device->IsConnected());
    std::fflush(stdout);
    FK40Device::Release(device);
    return 0;
}

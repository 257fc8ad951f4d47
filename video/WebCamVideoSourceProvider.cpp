#include "video/WebCamVideoSourceProvider.h"
#include <objbase.h>

WebCamVideoSourceProvider::WebCamVideoSourceProvider() { CoInitialize(nullptr); }

#include "app/LumetraApp.h"

CLumetraApp theApp;

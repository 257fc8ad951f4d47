// The class library, all of it.
#pragma once
#include "framework/Application.h"
#include "framework/Controls.h"
#include "framework/DateTime.h"
#include "framework/Dialog.h"
#include "framework/Image.h"
#include "framework/ListBox.h"
#include "framework/Lists.h"
#include "framework/Strings.h"
#include "framework/Sync.h"
#include "framework/Tabs.h"
#include "framework/Threads.h"

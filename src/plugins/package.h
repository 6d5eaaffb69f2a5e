#pragma once

// The plugin file module: its registry side and its file side.
#include "plugins/PluginFiles.h"
#include "plugins/PluginRegistry.h"

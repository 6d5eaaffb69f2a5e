#pragma once

#include "menu/MenuPlugin.h"

// The installed plugins as the status menu offers them on text clips, backed by PluginManager:
// a plugin item is known by its bundle id, so an item built before a reload still runs the
// plugin installed under that id when it is chosen.
MenuPluginSource pluginMenuSource();

#pragma once

#include "menu/MenuPlugin.h"

class PluginManager;

// The installed plugins as the status menu offers them on text clips, backed by the manager:
// a plugin item is known by its bundle id, so an item built before a reload still runs the
// plugin installed under that id when it is chosen.
MenuPluginSource pluginMenuSource(PluginManager &manager);

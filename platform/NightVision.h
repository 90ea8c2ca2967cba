#pragma once

// Night vision: the whole program red on black, for eyes adapted to the dark.
// Every window — main window, menus, toolbar, status bar, dialogs, panels,
// message boxes, file dialogs — takes a red-on-black palette, and a filter
// over each window lets only the red of what it paints through (pictures,
// icons, graphs, coloured marks).
void setNightVision(bool on);
bool nightVision();

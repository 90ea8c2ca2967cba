#pragma once

#include <QIcon>

// Pictures drawn by the program itself: the toolbar's 16 x 15 buttons and the
// main window's icon.
constexpr int kToolbarButtonWidth = 16;
constexpr int kToolbarButtonHeight = 15;

// The button picture of a toolbar command; a null icon for other ids.
QIcon toolbarIcon(int commandId);
QIcon mainIcon();

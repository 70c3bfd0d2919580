#pragma once

#include "resources/ImageRoles.h"

#include <QIcon>

// The icon of a role, loaded once from the compiled-in resources. Menus, the explorer and
// list rows show it at 16 pixels, view tool bars at 24 and the main tool bar at 48.
QIcon roleIcon(ImageRole role);

inline constexpr int SmallImageSize = 16;
inline constexpr int MediumImageSize = 24;
inline constexpr int LargeImageSize = 48;

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QIcon>

// The pictures of the tool buttons and the order buttons, drawn at run time so they stay sharp at
// any scale and need no image files.
enum class ToolIcon { Add, Remove, Clear, Join, Language, About, Update, Up, Down };

QIcon MakeToolIcon(ToolIcon kind, int size);

// A per-type file icon (a sheet with the type's name on it), for file types the icon theme lacks.
QIcon MakeFileTypeIcon(const QString& label, int size);

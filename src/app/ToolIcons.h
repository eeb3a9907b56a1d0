#pragma once

#include <QIcon>

// The pictures of the tool buttons and the order buttons, drawn at run time so they stay sharp at
// any scale and need no image files.
enum class ToolIcon { Add, Remove, Clear, Join, Language, About, Update, Up, Down };

QIcon MakeToolIcon(ToolIcon kind, int size);

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QColor>
#include <QPalette>

class QStyle;

// Colours that people with low vision can still tell apart: selected rows whose text stands out from
// the selection, and focus marks that stand out from the window, as WCAG 2.1 AA asks (4.5:1 for
// text, 3:1 for the marks). A desktop theme that already meets them is kept as it is.
namespace platform {

// The contrast ratio of two colours, from 1 (the same) to 21 (black on white).
double ContrastRatio(const QColor& a, const QColor& b);
// colour, darkened (or lightened, against a dark colour) in small steps until it has ratio against
// against; unchanged when it has already.
QColor WithContrast(const QColor& colour, const QColor& against, double ratio);
// palette with its selection colour made dark or light enough for the selected text.
QPalette ReadablePalette(QPalette palette);
// The colour of a focus mark drawn on a window of palette.
QColor FocusMarkColour(const QPalette& palette);
// A new style of the application's kind that draws its focus marks in FocusMarkColour.
QStyle* NewReadableStyle();
// Gives the application the readable palette, and a style that draws focus marks in
// FocusMarkColour over the style it had.
void InstallReadableLook();

}  // namespace platform

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

#include <vector>

// The order people expect of numbered parts: case ignored, white space ignored, and runs of digits
// compared by their value, so "Track 2" comes before "track10". Our own rule, the same with or
// without ICU and in every locale.

// Negative, zero or positive as a sorts before, with or after b.
int NaturalCompare(const QString& a, const QString& b);

// The indexes of paths in the order SortPathsNaturally gives them.
std::vector<int> NaturalPathOrder(const QStringList& paths);

// Sorts full paths by folder, then by file name, each by NaturalCompare (the folders component by
// component). Paths that compare equal keep their order.
void SortPathsNaturally(QStringList& paths);

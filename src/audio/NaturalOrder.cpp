// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/NaturalOrder.h"

#include <algorithm>
#include <numeric>

namespace {

int SkipSpace(const QString& s, int at) {
    while (at < s.size() && s.at(at).isSpace()) {
        ++at;
    }
    return at;
}

// The end of the run of digits that starts at at.
int DigitsEnd(const QString& s, int at) {
    while (at < s.size() && s.at(at).isDigit()) {
        ++at;
    }
    return at;
}

// Compares two runs of digits by value: leading zeros dropped, then the longer run is the larger
// number, and runs of one length compare digit by digit.
int CompareNumbers(const QString& a, int aBegin, int aEnd, const QString& b, int bBegin, int bEnd) {
    while (aBegin < aEnd - 1 && a.at(aBegin).digitValue() == 0) {
        ++aBegin;
    }
    while (bBegin < bEnd - 1 && b.at(bBegin).digitValue() == 0) {
        ++bBegin;
    }
    if (aEnd - aBegin != bEnd - bBegin) {
        return (aEnd - aBegin) < (bEnd - bBegin) ? -1 : 1;
    }
    for (; aBegin < aEnd; ++aBegin, ++bBegin) {
        const int difference = a.at(aBegin).digitValue() - b.at(bBegin).digitValue();
        if (difference != 0) {
            return difference;
        }
    }
    return 0;
}

// Each character as the comparison sees it: case folded. Digits and white space fold to themselves.
QString Folded(const QString& s) {
    QString folded = s;
    for (QChar& c : folded) {
        c = c.toCaseFolded();
    }
    return folded;
}

int CompareFolded(const QString& a, const QString& b) {
    int i = SkipSpace(a, 0);
    int j = SkipSpace(b, 0);
    while (i < a.size() && j < b.size()) {
        if (a.at(i).isDigit() && b.at(j).isDigit()) {
            const int aEnd = DigitsEnd(a, i);
            const int bEnd = DigitsEnd(b, j);
            const int order = CompareNumbers(a, i, aEnd, b, j, bEnd);
            if (order != 0) {
                return order;
            }
            i = aEnd;
            j = bEnd;
        } else {
            const char16_t x = a.at(i).unicode();
            const char16_t y = b.at(j).unicode();
            if (x != y) {
                return x < y ? -1 : 1;
            }
            ++i;
            ++j;
        }
        i = SkipSpace(a, i);
        j = SkipSpace(b, j);
    }
    return (i < a.size()) - (j < b.size());
}

// A path's folders and name, folded once: a sort compares each path many times.
struct SplitPath {
    QStringList folders;
    QString name;
};

SplitPath Split(const QString& path) {
    QStringList parts = Folded(path).split(QLatin1Char('/'), Qt::SkipEmptyParts);
    SplitPath split;
    if (!parts.isEmpty()) {
        split.name = parts.takeLast();
    }
    split.folders = parts;
    return split;
}

int CompareFolders(const QStringList& a, const QStringList& b) {
    const qsizetype common = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < common; ++i) {
        // Paths of one list share most of their folders.
        if (a.at(i) == b.at(i)) {
            continue;
        }
        const int order = CompareFolded(a.at(i), b.at(i));
        if (order != 0) {
            return order;
        }
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

}  // namespace

int NaturalCompare(const QString& a, const QString& b) {
    return CompareFolded(Folded(a), Folded(b));
}

std::vector<int> NaturalPathOrder(const QStringList& paths) {
    std::vector<SplitPath> keys;
    keys.reserve(static_cast<std::size_t>(paths.size()));
    for (const QString& path : paths) {
        keys.push_back(Split(path));
    }
    std::vector<int> order(keys.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        const SplitPath& x = keys[static_cast<std::size_t>(a)];
        const SplitPath& y = keys[static_cast<std::size_t>(b)];
        const int folders = CompareFolders(x.folders, y.folders);
        return folders != 0 ? folders < 0 : CompareFolded(x.name, y.name) < 0;
    });
    return order;
}

void SortPathsNaturally(QStringList& paths) {
    QStringList sorted;
    sorted.reserve(paths.size());
    for (const int i : NaturalPathOrder(paths)) {
        sorted << paths.at(i);
    }
    paths = sorted;
}

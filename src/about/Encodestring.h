// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <string_view>

// The home-page address is kept scrambled in the program, so it is not found as plain text in the
// executable; it is decoded each time it is needed.

// Both alphabets in one table: the 95 target characters, then the 95 source characters.
inline constexpr std::string_view kDecodeTable =
    "U)e[;YMK+<|h}]6QOaR\"B~,C/`Evl45?%L$j8 @'7.qZsDcX&bxtVgIow1N_pT(iA^\\P>f:0WS9!=ndzHkmu#*FGJr{2y-3"
    "a)tD=:W o,`.uP741@{wG^FiY]SVeZjc(-~!|\\}8*_?9>mABqK/'HX+k\"TNpLE<QvUOh#MJbCx;5l0R&d2zsr$3fgI6yn[%";
inline constexpr int kAlphabetLength = 95;

// The maker's home page, scrambled; start-up stores it in the main window's EncodedHomePage.
inline constexpr char kEncodedHomePage[] = "s99~/YJJ}}}Xhn:10@nXn>0u~OnJ";

// Character by character: the character at position p of the source alphabet (0 when it is not
// there) becomes the character at position 94 - p of the target alphabet.
QString DecodeString(const QString& encoded);

// The one thing about message output that differs between the legs: the narrow form of a wide
// character of a path.
#pragma once

#include <cwchar>

constexpr int kNarrowCharacterBytes = 8;

// Writes the narrow form of c into out and returns its length in bytes; 0 when c has none, which
// ends the argument it stands in. state carries a conversion's state along one argument,
// starting zeroed: a negative result means that c is held there and nothing is written yet (on
// Windows the first half of a UTF-16 surrogate pair, written with the second).
int narrowCharacter(wchar_t c, char (&out)[kNarrowCharacterBytes], mbstate_t& state);

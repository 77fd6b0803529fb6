#pragma once

// The font every window of the client draws its texts in: the bundled
// Roboto at 8 points. Kept in one place so that what the program shows and
// what the look checks measure are drawn alike.
namespace programfont {

// Loads the bundled font (the resources must be initialised) and makes it
// the application's font. False, with the platform's font left in place,
// when the font cannot be loaded.
bool apply();

} // namespace programfont

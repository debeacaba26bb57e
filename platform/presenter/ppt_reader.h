// Reads a binary presentation (.ppt) into the deck model: the "PowerPoint Document" stream is
// found through the current-user atom, the chain of user edits and the persist directory; the
// document container gives the slide size and the slide list; each slide gets its text atoms,
// laid out top to bottom with the first one as a title.
#pragma once
#include <string>

#include "deck.h"

namespace presenter {

bool LoadPpt(const std::string& bytes, Deck& deck, std::string& error);

}  // namespace presenter

// Reads an Office Open XML presentation package (.pptx) into the deck model: slide size and order,
// theme colours, backgrounds, shapes, inherited placeholders, text, tables and pictures.
#pragma once
#include <string>

#include "deck.h"

namespace presenter {

bool LoadPptx(const std::string& bytes, Deck& deck, std::string& error);

}  // namespace presenter

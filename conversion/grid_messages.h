#pragma once
// The words for what the grid library reports: a portion or a set that could not be loaded,
// a corner node of value 0. The window shows them in boxes, the batch converter prints them.

#include <vector>

#include "conversion/message.h"
#include "grid/grid_portion.h"
#include "grid/interpolation.h"
#include "grid/portion_set.h"

namespace dormal {

// A portion that could not be read: "LETTURA DELLA GRIGLIA NON AVVENUTA CORRETTAMENTE"
// ("ATTENZIONE:", warning) for a damaged file, or the reason in Italian ("Errore", error
// icon) for one that cannot be opened or is not a regular file. A read from disk adds a
// last line "FILE DI GRIGLIA: " and the file's path.
Message gridLoadMessage(const GridLoadError& error);

// A set that could not be loaded: the portion's own message, the folder that cannot be
// listed ("CARTELLA: " and its path), or "NESSUNA PORZIONE DI GRIGLIA (*.GK?) NELLA CARTELLA".
Message portionSetMessage(const PortionSetError& error);

// "NESSUNA PORZIONE DI GRIGLIA (*.GK?) NELLA CARTELLA" with the folder's path.
Message noPortionInFolderMessage(const std::string& folder);

// The messages for a corner node number of 0: "IL PUNTO A N.E. VALE 0 " (and S.E., S.O.,
// N.O.), warning icon, title "Dormal2k"; for the geoid a second box "ERRORE".
std::vector<Message> zeroCornerMessages(Corner corner, bool geoid);

} // namespace dormal

// Name patterns: an icon number or a block number is stamped into fixed character places
// before the pattern's first "." (searched from the second character on; without a dot the
// end of the name is used). An icon number fills the places 7, 5, 3 and 1 before it (the
// places between, often path separators, are kept); a block number the places 2 and 1.
//
// A pattern too short to hold the number (fewer than 7 characters before the dot for icons,
// 2 for blocks), a negative number, or a number whose leading place would need a character
// beyond "~" cannot be stamped. Stamping never writes outside the name: instead the pattern
// is made the empty name and the call returns false. The empty name names no file, so
// callers need no special path: an existence test finds nothing, reading or opening fails
// ("not found"), writing fails with the caller's normal write warning (which shows
// "UNTITLED" for the empty name) and deleting does nothing. Callers that want a clearer
// message test the result. The project info file sets the pattern again when it is next read.
#pragma once

#include "project/project_settings.h"

namespace zemlo {

// Thousands (0-9, then "A" for 10 and on), hundreds, tens, units.
bool StampIconNumber(int icon, Name& pattern);

// Tens (0-9, then "A" for 10 and on) and units. Blocks from 360 on give characters beyond
// "Z" ("[", "\", ... "|" for 690 to 699); Windows refuses some of them as file names and "\"
// separates directories, so such a block file may not be creatable: the store reports it.
bool StampBlockNumber(int block, Name& pattern);

}  // namespace zemlo

#pragma once

#include <string>

// The folder under which every user-data folder lives, ending with '/':
// $OSKRA_DATA_DIR when set, else ${XDG_DATA_HOME:-$HOME/.local/share}/Tarnwick7/.
// Read from the environment at every call; the folder itself may not exist yet.
std::string userDataRoot();

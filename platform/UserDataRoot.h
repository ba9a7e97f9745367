#pragma once

#include <string>

// The folder under which every user-data folder lives, ending with '/':
// $OSKRA_DATA_DIR when set, else ${XDG_DATA_HOME:-$HOME/.local/share}/Tarnwick7/. A variable
// that is not an absolute path counts as unset; with no absolute home either the result is
// empty: there are no user folders. Read from the environment at every call; the folder itself
// may not exist yet.
std::string userDataRoot();
